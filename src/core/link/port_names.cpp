#include "link/port_names.h"

#include <sys/stat.h>

#include <cstdlib>

#include "frame/ini_file.h"

std::string PortsFolder() {
    if (const char* d = std::getenv("ZELMAR_PORTS_DIR"); d && *d) {
        std::string s = d;
        if (s.back() != '/') s += '/';
        return s;
    }
    return ExeFolder() + "ports/";
}

std::string PortPath(const std::string& name) { return PortsFolder() + name; }

bool IsPortPresent(const std::string& name) {
    struct stat st {};
    return ::stat(PortPath(name).c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}
