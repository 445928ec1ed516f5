#include "flash_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "frame/format.h"
#include "frame/my_exception.h"
#include "frame/unique_fd.h"

namespace zelmar::sim {

namespace {

[[noreturn]] void RaiseFileError(const char* what, const std::string& path, int err) {
    Raise<MyException>(MY_HERE, Format("%s \"%s\": %s", what, path.c_str(),
                                       WindowsErrorText(static_cast<uint32_t>(err)).c_str()));
}

}  // namespace

FlashImage::FlashImage() : bytes_(flash::kSize, 0xFF) {}

FlashImage FlashImage::Load(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) RaiseFileError("Не удалось открыть файл образа флэш-памяти", path, errno);
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        RaiseFileError("Не удалось прочитать файл образа флэш-памяти", path, errno);
    if (!S_ISREG(st.st_mode))
        Raise<MyException>(
            MY_HERE,
            Format("Файл образа флэш-памяти \"%s\" не является обычным файлом", path.c_str()));
    if (st.st_size != static_cast<off_t>(flash::kSize))
        Raise<MyException>(
            MY_HERE, Format("Файл образа флэш-памяти \"%s\" имеет размер %lld байт, ожидается %u "
                            "байт",
                            path.c_str(), static_cast<long long>(st.st_size), flash::kSize));
    FlashImage image;
    size_t done = 0;
    while (done < flash::kSize) {
        ssize_t n = ::read(fd.Get(), image.bytes_.data() + done, flash::kSize - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) RaiseFileError("Не удалось прочитать файл образа флэш-памяти", path, errno);
        if (n == 0)
            Raise<MyException>(
                MY_HERE, Format("Файл образа флэш-памяти \"%s\" прочитан не полностью: %zu из %u "
                                "байт",
                                path.c_str(), done, flash::kSize));
        done += static_cast<size_t>(n);
    }
    return image;
}

void FlashImage::Save(const std::string& path) const {
    const std::string tmp = Format("%s.tmp%d", path.c_str(), static_cast<int>(::getpid()));
    {
        UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!fd) RaiseFileError("Не удалось записать файл образа флэш-памяти", path, errno);
        size_t done = 0;
        while (done < bytes_.size()) {
            ssize_t n = ::write(fd.Get(), bytes_.data() + done, bytes_.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                int err = n < 0 ? errno : EIO;
                ::unlink(tmp.c_str());
                RaiseFileError("Не удалось записать файл образа флэш-памяти", path, err);
            }
            done += static_cast<size_t>(n);
        }
        if (::fsync(fd.Get()) != 0) {
            int err = errno;
            ::unlink(tmp.c_str());
            RaiseFileError("Не удалось записать файл образа флэш-памяти", path, err);
        }
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        RaiseFileError("Не удалось записать файл образа флэш-памяти", path, err);
    }
}

uint8_t FlashImage::Byte(uint32_t addr) const {
    MY_CHECK(Contains(addr, 1));
    return bytes_[addr];
}

uint16_t FlashImage::Word(uint32_t addr) const {
    MY_CHECK(Contains(addr, 2));
    return static_cast<uint16_t>(bytes_[addr] << 8 | bytes_[addr + 1]);
}

uint32_t FlashImage::Long(uint32_t addr) const {
    MY_CHECK(Contains(addr, 4));
    return static_cast<uint32_t>(bytes_[addr]) << 24 |
           static_cast<uint32_t>(bytes_[addr + 1]) << 16 |
           static_cast<uint32_t>(bytes_[addr + 2]) << 8 | bytes_[addr + 3];
}

void FlashImage::Read(uint32_t addr, uint8_t* out, size_t count) const {
    MY_CHECK(Contains(addr, count));
    std::copy_n(bytes_.begin() + addr, count, out);
}

void FlashImage::SetByte(uint32_t addr, uint8_t value) {
    MY_CHECK(Contains(addr, 1));
    bytes_[addr] = value;
}

void FlashImage::SetWord(uint32_t addr, uint16_t value) {
    MY_CHECK(Contains(addr, 2));
    bytes_[addr] = static_cast<uint8_t>(value >> 8);
    bytes_[addr + 1] = static_cast<uint8_t>(value);
}

void FlashImage::SetLong(uint32_t addr, uint32_t value) {
    MY_CHECK(Contains(addr, 4));
    for (int i = 0; i < 4; ++i) bytes_[addr + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

void FlashImage::Write(uint32_t addr, const uint8_t* data, size_t count) {
    MY_CHECK(Contains(addr, count));
    std::copy_n(data, count, bytes_.begin() + addr);
}

void FlashImage::Erase(uint32_t addr, size_t count) {
    MY_CHECK(Contains(addr, count));
    std::fill_n(bytes_.begin() + addr, count, 0xFF);
}

bool FlashImage::IsErased(uint32_t addr, size_t count) const {
    MY_CHECK(Contains(addr, count));
    return std::all_of(bytes_.begin() + addr, bytes_.begin() + addr + count,
                       [](uint8_t b) { return b == 0xFF; });
}

}  // namespace zelmar::sim
