#pragma once

#include <string>

// Port names stay "COM1" … "COM19". A name COMn is present when <ports folder>/COMn exists and
// resolves to a character device (a tty, a USB adapter or a pseudo-terminal). The ports
// folder is $ZELMAR_PORTS_DIR, else "ports" in the program's folder (ExeFolder()).
// Binding an adapter: ln -s /dev/ttyUSB0 ports/COM1.
std::string PortsFolder();  // ends with "/"
std::string PortPath(const std::string& name);
// True when the name's entry exists and resolves to a character device.
bool IsPortPresent(const std::string& name);
