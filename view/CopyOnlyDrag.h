#pragma once

// Keeps a copy-only drag going whatever modifier the person holds. The toolkit turns Shift into
// "move" and Shift+Control into "link" and refuses the drop when the source offers only copy,
// so nothing would arrive. The toolkit's drag handles the pointer and keys itself, ahead of any
// handler of the program's: so while this object lives, the X events themselves reach the
// toolkit without Shift and Control, and of the keys only those that end a drag (Escape, Return,
// Space) reach it at all, since any other key makes it read the modifiers afresh from the server.
class CCopyOnlyDrag {
public:
    CCopyOnlyDrag();
    ~CCopyOnlyDrag();
    CCopyOnlyDrag(const CCopyOnlyDrag&) = delete;
    CCopyOnlyDrag& operator=(const CCopyOnlyDrag&) = delete;
};
