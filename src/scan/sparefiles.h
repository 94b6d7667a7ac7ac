#pragma once

#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// Unnamed files made ahead of need in one folder, on a thread of their own. Creating a file can
// cost a file system far more than writing a small one (ext4 without a journal, shortly after
// many deletions, searches past every recently freed inode for each new file), so a caller that
// writes many small files in a row takes a ready file, writes it and gives it its name.
//
// Where unnamed files cannot be made (a system or file system without O_TMPFILE, a folder that is
// missing or not writable), take() finds none and the caller makes its files as usual.
class SpareFiles {
public:
    explicit SpareFiles(int depth = 8);
    // Files not taken are closed; having no name, they vanish.
    ~SpareFiles();
    SpareFiles(const SpareFiles&) = delete;
    SpareFiles& operator=(const SpareFiles&) = delete;

    // An open, empty, unnamed file in folder, opened for writing, for its owner only; from now on
    // the caller's to close. Waits for one when none is ready yet; -1 when none can be made
    // there. Asks for more in that folder; ready files of another folder are given up.
    int take(const QString& folder);

    // Gives the unnamed file open as fd the name path, which must not exist yet: whatever is
    // there is never replaced (errno EEXIST). False (errno set) when it cannot; the file then
    // stays unnamed.
    static bool giveName(int fd, const QString& path);

private:
    void run();
    void dropReady();

    const int m_depth;
    std::mutex m_mutex;
    std::condition_variable m_wake;    // to the maker: make more, or stop
    std::condition_variable m_madeOne; // to take(): a file is ready, or none can be made
    QString m_folder;
    std::deque<int> m_ready;
    bool m_cannot = false; // no unnamed file can be made in m_folder
    bool m_stop = false;
    std::thread m_thread;
};
