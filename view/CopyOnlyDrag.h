#pragma once

// Keeps a copy-only drag going whatever modifier the person holds. The toolkit turns Shift into
// "move" and Shift+Control into "link" and refuses the drag when the source offers only copy,
// so nothing would arrive: while this object lives, the toolkit's drag loop sees pointer events
// without Shift and Control, and of the keys only those that end the drag (Escape, Return,
// Space), since any other key makes it read the modifiers afresh.
class CCopyOnlyDrag {
public:
    CCopyOnlyDrag();
    ~CCopyOnlyDrag();
    CCopyOnlyDrag(const CCopyOnlyDrag&) = delete;
    CCopyOnlyDrag& operator=(const CCopyOnlyDrag&) = delete;
};
