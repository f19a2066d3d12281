#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace kd735 {

// "USB\VID_0735&PID_0735": the hardware id that marks an instrument.
inline const QString& InstrumentHardwareId() {
  static const QString id = QStringLiteral("USB\\VID_0735&PID_0735");
  return id;
}

// One device as the platform describes it. The fields are the Plug-and-Play properties of the
// original Windows program; a platform fills what it has and leaves the rest empty or 0.
// DevPath (what the channels open), LocationInfo (the instrument's type and number, shown to the
// user) and HardwareID (what decides whether it is an instrument) are the ones that matter.
struct TUSBPnPInfo {
  std::uint32_t DeviceID = 0;
  QString DevPath;
  std::uint32_t Capabilities = 0;
  QString ClassDescr;
  QString ClassGUID;
  QStringList CompatibleIDs;
  std::uint32_t ConfigFlags = 0;
  QString DeviceDescr;
  QString Driver;
  QString FriendlyName;
  QStringList HardwareID;
  QStringList LowerFilters;
  QString Mfg;
  QStringList UpperFilters;
  QString Address;
  std::uint32_t BusNumber = 0;
  QString BusType;
  QString Characteristics;
  std::uint32_t DevType = 0;
  QString EnumeratorName;
  std::uint32_t Exclusive = 0;
  std::uint32_t LegacyBusType = 0;
  QString LocationInfo;
  QString PhysDevObjName;
  QString SecuritySDS;
  QString Service;
  std::uint32_t UINumber = 0;
  QString UINumberFormat;
};

}  // namespace kd735
