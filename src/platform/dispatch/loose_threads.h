#pragma once

// Internal to the dispatch layer: the threads of queues destroyed from one
// of their own tasks. Such a thread cannot be joined by its owner; it winds
// down by itself once that task has returned. The process's exit waits for
// them, so that none is still tearing its owner down while the libraries it
// used are cleaned up after main.

namespace ondaline::platform::loose_threads {

// Called on the thread itself, as it is let go.
void letGo();

// Called by every queue thread when it has nothing left to run; it counts
// only for one that was let go.
void ended();

}  // namespace ondaline::platform::loose_threads
