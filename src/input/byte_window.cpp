#include "input/byte_window.h"

#include <cstring>

bool ByteWindow::Allocate(uint32_t capacity, uint32_t reserve)
{
    Free();
    // Pages the window never reaches are never faulted in.
    m_data = ZPMP::NewZeroedBuffer(capacity);
    if (!m_data)
        return false;
    m_capacity = capacity;
    m_reserve = reserve;
    return true;
}

void ByteWindow::Free()
{
    m_data.reset();
    m_read = m_write = m_capacity = m_reserve = 0;
}

bool ByteWindow::Commit(uint32_t n)
{
    if (uint64_t(m_write) + n >= m_capacity)
        return false;
    m_write += n;
    return true;
}

bool ByteWindow::Consume(uint32_t n)
{
    uint32_t available = m_write - m_read;
    if (n > available)
        return false;
    if (n > 0) {
        std::memset(m_data.get() + m_read, 0, n);
        m_read += n;
    }
    if (uint64_t(m_write) + m_reserve >= m_capacity) {
        uint32_t unread = m_write - m_read;
        if (unread > 0 && m_read > 0)
            std::memmove(m_data.get(), m_data.get() + m_read, unread);
        m_read = 0;
        m_write = unread;
    }
    return true;
}
