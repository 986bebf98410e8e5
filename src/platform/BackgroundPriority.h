#pragma once

// Lowers the calling thread's scheduling priority (nice +10) for the life of the object,
// then restores it. Worker threads that prepare files or write state use it so that, on a
// machine with few cores, the UI thread is never the one that waits for a time slice.
class BackgroundPriority
{
public:
    BackgroundPriority();
    ~BackgroundPriority();
    BackgroundPriority(const BackgroundPriority &) = delete;
    BackgroundPriority &operator=(const BackgroundPriority &) = delete;

private:
    int m_previous = 0;
    bool m_changed = false;
};
