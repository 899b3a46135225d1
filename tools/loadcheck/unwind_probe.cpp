// A library built as the plugin is (static C++ runtime, old-glibc routing) whose one function
// throws through a few of its own frames and catches: loadcheck --unwind calls it to show the
// unwinder finds the library's frames, with whatever glibc runs it.
#include <stdexcept>

namespace {

[[gnu::noinline]] int descend(int depth) {
    if (depth == 0) throw std::runtime_error("unwound");
    return descend(depth - 1) + 1;  // not a tail call: each level keeps a frame to unwind
}

}  // namespace

extern "C" [[gnu::visibility("default")]] int kovitv_unwind_probe(int depth) {
    try {
        return descend(depth);
    } catch (const std::runtime_error& error) {
        return error.what()[0] == 'u' ? depth : -1;
    }
}
