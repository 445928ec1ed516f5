#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class IniFile;

// The port interface the master-slave exchange works against. Callers use Open/Close/Write/
// Read, which raise an event after the work: 0 opened, 1 closed, 2 written, 3 read.
class MyPort {
public:
    enum Event : int { EvOpened = 0, EvClosed = 1, EvWritten = 2, EvRead = 3 };
    using EventHandler =
        std::function<void(int event, MyPort& port, const uint8_t* buffer, size_t count)>;

    MyPort() = default;
    MyPort(const MyPort&) = delete;
    MyPort& operator=(const MyPort&) = delete;
    virtual ~MyPort() = default;

    virtual std::string Description() const = 0;
    virtual void SaveSettings(IniFile& /*ini*/, const std::string& /*section*/) const {}
    virtual void LoadSettings(const IniFile& /*ini*/, const std::string& /*section*/) {}
    // Received bytes waiting in the driver.
    virtual size_t BytesAvailable() = 0;
    virtual void Purge() = 0;

    bool IsOpen() const { return open_; }
    void Open();
    void Close();
    size_t Write(const uint8_t* buffer, size_t count);
    size_t Read(uint8_t* buffer, size_t count);

    void SetEventHandler(EventHandler handler) { handler_ = std::move(handler); }

protected:
    virtual void DoOpen() = 0;
    virtual void DoClose() = 0;
    virtual size_t DoWrite(const uint8_t* buffer, size_t count) = 0;
    virtual size_t DoRead(uint8_t* buffer, size_t count) = 0;
    // For a failed DoOpen that has to report the port closed again.
    void RaiseEvent(int event, const uint8_t* buffer, size_t count);

private:
    bool open_ = false;
    EventHandler handler_;
};
