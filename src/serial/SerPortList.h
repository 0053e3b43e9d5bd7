// The serial ports installed on this machine, as the port dialog offers them.
#pragma once

#include "platform/PortMap.h"

#include <QStringList>

// Fills Value with "COM<n>" for every port of the port map whose device is
// present now, in ascending number order and without repeats. It does not
// depend on any component's state. The scan roots are for tests.
void GetComPortNames(QStringList &Value, const Platform::PortScanRoots &roots = {});
