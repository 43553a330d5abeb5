// The time-table worker: walks a program-stream file on a thread of its own
// with a pack checker and hands every key picture's (presentation time, byte
// position) pair to the time-index component, which stores the table. The
// host polls the progress and learns the outcome through its callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "input/open_input.h"

#include "mediadetect/interfaces.h"

namespace md {

// Result codes passed to the host's callback.
enum TimeTableResult : uint32_t {
    kTimeTableComplete = 0,        // table complete; the time-index component accepted the close
    kTimeTableUnreadable = 1,      // the file could not be read (a remote read failed on the way), or its kind
                                   // has no pack checker
    kTimeTableNoIndex = 2,         // the time-index component could not be created or refused the file
    kTimeTableInterrupted = 3,     // stopped by the host, an entry was refused, or the close failed
};

class TimeTableWorker {
public:
    TimeTableWorker() = default;
    TimeTableWorker(const TimeTableWorker&) = delete;
    TimeTableWorker& operator=(const TimeTableWorker&) = delete;
    ~TimeTableWorker() { Stop(); }

    // Starts the walk of the file of source, of the given media kind. A file whose
    // size cannot be read or is 0 starts nothing (and no callback comes).
    // False only when a previous walk is still running. A remote file is walked
    // on opened, the stream its kind was probed on, whose cache holds the head:
    // the walk fetches every byte once.
    bool Start(const InputSource& source, std::unique_ptr<ZPMP::InputStream> opened, uint32_t kind,
               TimeTableCallback callback, void* context);
    // Bytes walked as a percentage of the file size (0 for an empty file).
    uint32_t Progress() const;
    // Asks a running walk to stop after its current chunk and waits for it.
    void Stop();

private:
    void Run();
    uint32_t Walk();

    TimeTableCallback m_callback = nullptr;
    void* m_context = nullptr;
    std::atomic<uint32_t> m_stopRequested{0};
    std::atomic<bool> m_running{false};
    std::thread m_thread;
    int64_t m_fileSize = 0;
    std::atomic<int64_t> m_bytesDone{0};
    InputSource m_source;
    std::unique_ptr<ZPMP::InputStream> m_opened;  // a remote file's stream, handed to the walk
    uint32_t m_kind = 0;
};

}  // namespace md
