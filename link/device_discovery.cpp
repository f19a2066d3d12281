#include "link/device_discovery.h"

namespace kd735 {
namespace {

QString Hex8(std::uint32_t v) {
  return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')).toUpper() + QLatin1Char('h');
}

void AddList(QStringList& log, const QString& countLabel, const QString& itemLabel,
             const QStringList& items) {
  log << countLabel + QString::number(items.size());
  for (int i = 0; i < items.size(); ++i)
    log << itemLabel + QString::number(i) + QStringLiteral("  ") + items[i];
}

}  // namespace

bool IsInstrument(const TUSBPnPInfo& device) {
  for (const QString& id : device.HardwareID) {
    if (id.toUpper() == InstrumentHardwareId()) return true;
  }
  return false;
}

DeviceList EnumerateInstruments(UsbBus& bus) {
  DeviceList list;
  for (TUSBPnPInfo& device : bus.ListDevices()) {
    if (IsInstrument(device)) list.push_back(std::move(device));
  }
  return list;
}

void DumpDeviceProperties(const DeviceList& devices, int index, QStringList& log) {
  // Only the first six devices can be listed; an index past the list's end is refused the same
  // way instead of reading a device that is not there.
  if (index < 0 || index > 5 || index >= int(devices.size())) {
    log << QStringLiteral("Неправильный индекс устройства !!!");
    return;
  }
  const TUSBPnPInfo& d = devices[std::size_t(index)];
  log << QStringLiteral("УСТРОЙСТВО    - ") + QString::number(index) + QLatin1Char(' ') +
             QString(53, QLatin1Char('*'));
  log << QStringLiteral("DeviceID     ") + Hex8(d.DeviceID);
  log << QStringLiteral("DevPath      ") + d.DevPath;
  log << QStringLiteral("Capabilities ") + Hex8(d.Capabilities);
  log << QStringLiteral("ClassDescr   ") + d.ClassDescr;
  log << QStringLiteral("ClassGUID    ") + d.ClassGUID;
  log << QStringLiteral("ConfigFlags  ") + Hex8(d.ConfigFlags);
  log << QStringLiteral("DeviceDescr  ") + d.DeviceDescr;
  log << QStringLiteral("Driver       ") + d.Driver;
  log << QStringLiteral("FriendlyName ") + d.FriendlyName;
  AddList(log, QStringLiteral("CompatibleIDs       "), QStringLiteral("CompatibleIDs "),
          d.CompatibleIDs);
  AddList(log, QStringLiteral("HardwareID       "), QStringLiteral("HardwareID "), d.HardwareID);
  log << QStringLiteral("Mfg     ") + d.Mfg;
  AddList(log, QStringLiteral("LowerFilters       "), QStringLiteral("LowerFilters "),
          d.LowerFilters);
  AddList(log, QStringLiteral("UpperFilters       "), QStringLiteral("UpperFilters "),
          d.UpperFilters);
  log << QStringLiteral("Address ") + d.Address;
  log << QStringLiteral("BusNumber       ") + Hex8(d.BusNumber);
  log << QStringLiteral("BusType         ") + d.BusType;
  log << QStringLiteral("Characteristics ") + d.Characteristics;
  log << QStringLiteral("DevType         ") + Hex8(d.DevType);
  log << QStringLiteral("EnumeratorName  ") + d.EnumeratorName;
  log << QStringLiteral("Exclusive       ") + Hex8(d.Exclusive);
  log << QStringLiteral("LegacyBusType   ") + Hex8(d.LegacyBusType);
  log << QStringLiteral("LocationInfo    ") + d.LocationInfo;
  log << QStringLiteral("PhysDevObjName  ") + d.PhysDevObjName;
  log << QStringLiteral("SecuritySDS     ") + d.SecuritySDS;
  log << QStringLiteral("Service         ") + d.Service;
  log << QStringLiteral("UINumber        ") + Hex8(d.UINumber);
  log << QStringLiteral("UINumberFormat  ") + d.UINumberFormat;
  log << QString();
}

}  // namespace kd735
