#include "link/my_port.h"

void MyPort::RaiseEvent(int event, const uint8_t* buffer, size_t count) {
    if (handler_) handler_(event, *this, buffer, count);
}

void MyPort::Open() {
    DoOpen();
    open_ = true;
    RaiseEvent(EvOpened, nullptr, 0);
}

void MyPort::Close() {
    DoClose();
    open_ = false;
    RaiseEvent(EvClosed, nullptr, 0);
}

size_t MyPort::Write(const uint8_t* buffer, size_t count) {
    size_t n = DoWrite(buffer, count);
    RaiseEvent(EvWritten, buffer, n);
    return n;
}

size_t MyPort::Read(uint8_t* buffer, size_t count) {
    size_t n = DoRead(buffer, count);
    RaiseEvent(EvRead, buffer, n);
    return n;
}
