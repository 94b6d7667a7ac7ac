#pragma once

#include <csignal>
#include <sys/resource.h>

// Limits the size of every file this process writes while it lives, as a full disk would: a
// write past the limit fails with "File too large", for the superuser as well, whom folder
// permissions do not stop. Nothing may be printed to a log file meanwhile.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    // False when the limit could not be set; the test then cannot rely on it.
    bool active() const { return m_active; }

private:
    rlimit m_before{};
    void (*m_signalBefore)(int) = SIG_DFL;
    bool m_active = false;
};
