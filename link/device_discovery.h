#pragma once

#include <QStringList>
#include <vector>

#include "link/pnp_info.h"
#include "link/usb_bus.h"

namespace kd735 {

// The instruments found by one enumeration, in the bus's order. Rebuilt whole by every run, so an
// index taken from it is valid only until the next run.
using DeviceList = std::vector<TUSBPnPInfo>;

// True when one of the device's hardware ids, upper-cased, is exactly InstrumentHardwareId().
bool IsInstrument(const TUSBPnPInfo& device);

// Every present instrument on the bus (possibly none).
DeviceList EnumerateInstruments(UsbBus& bus);

// Appends the property listing of devices[index] to log (unnumbered lines, ending with an empty
// line). Index outside 0..5, or past the end of the list, gives the single line
// "Неправильный индекс устройства !!!".
void DumpDeviceProperties(const DeviceList& devices, int index, QStringList& log);

}  // namespace kd735
