#include "input/byte_window.h"

#include <cstdlib>

#include <cstring>
#include <new>

bool ByteWindow::Allocate(uint32_t capacity, uint32_t reserve)
{
    Free();
    // calloc gives zero-filled storage without touching it: pages the window
    // never reaches are never faulted in.
    data_.reset(static_cast<uint8_t*>(std::calloc(capacity, 1)));
    if (!data_)
        return false;
    capacity_ = capacity;
    reserve_ = reserve;
    return true;
}

void ByteWindow::Free()
{
    data_.reset();
    read_ = write_ = capacity_ = reserve_ = 0;
}

bool ByteWindow::Commit(uint32_t n)
{
    if (uint64_t(write_) + n >= capacity_)
        return false;
    write_ += n;
    return true;
}

bool ByteWindow::Consume(uint32_t n)
{
    uint32_t available = write_ - read_;
    if (n > available)
        return false;
    if (n > 0) {
        std::memset(data_.get() + read_, 0, n);
        read_ += n;
    }
    if (uint64_t(write_) + reserve_ >= capacity_) {
        uint32_t unread = write_ - read_;
        if (unread > 0 && read_ > 0)
            std::memmove(data_.get(), data_.get() + read_, unread);
        read_ = 0;
        write_ = unread;
    }
    return true;
}
