// The game's rules as the stream tells them.
//
//   formatClock(seconds) -> "1:05"   whole seconds, never below zero

export function formatClock(seconds) {
    const s = Math.max(0, Math.floor(seconds));
    return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, '0')}`;
}
