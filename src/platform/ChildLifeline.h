#pragma once

// Outside programs we start (the archivers, the MP3 encoder) must not outlive us: after a
// crash or a SIGKILL an archiver would otherwise go on writing copies of the user's files.
//
// Each such child runs in a process group of its own together with a small watchdog, a
// fork of the child made before it execs. The watchdog holds the read end of a pipe whose
// only write end is ours (close-on-exec, so no other program keeps it). When we end, in
// whatever way, the pipe reports end-of-file and the watchdog kills the whole group: the
// program and everything it started (tar's compressor, say). When the program ends first,
// the watchdog dies with it (PR_SET_PDEATHSIG).
namespace ChildLifeline {

// Makes the pipe; call in our process before starting children (cheap after the first).
void prepare();

// Call in the child between fork and exec (async-signal-safe). Puts the child in a new
// process group and starts its watchdog. Without prepare() it only makes the group.
void enterGroupWithWatchdog();

} // namespace ChildLifeline
