#pragma once
#include <cstdint>
#include <string>

class CClipDetails;
class CThumbnailSet;
class CFmtCaption;
class CFmtClip;

// A rectangle in content coordinates; right and bottom are exclusive.
struct FmtRect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;

    bool Contains(std::int32_t x, std::int32_t y) const { return left <= x && x < right && top <= y && y < bottom; }
    std::int32_t Width() const { return right - left; }
    std::int32_t Height() const { return bottom - top; }
    bool operator==(const FmtRect&) const = default;
};

// What painting needs: the GUI implements it for its drawing surface, so the items and their
// layout stay free of any toolkit.
class CFmtPaintContext {
public:
    virtual ~CFmtPaintContext() = default;
    // The part of the content to paint, in content coordinates.
    virtual FmtRect ClipBox() const = 0;
    virtual void PaintCaption(const CFmtCaption& caption) = 0;
    virtual void PaintClip(const CFmtClip& clip) = 0;
};

// One laid-out item of the clip grid.
class IFmtItem {
public:
    virtual ~IFmtItem() = default;
    virtual void Paint(CFmtPaintContext& context) const = 0;
    virtual const FmtRect& GetRect() const = 0;
    virtual bool Select() { return false; }
    virtual void Deselect() {}
    virtual bool IsSelected() const { return false; }
};

// The data every item has: a sequence number and a rectangle.
class CFmtItem : public IFmtItem {
public:
    explicit CFmtItem(const FmtRect& rect) : id_(nextItemId++), rect_(rect) {}
    const FmtRect& GetRect() const override { return rect_; }
    std::int32_t Id() const { return id_; }

    // Ids run 0, 1, 2 ... in creation order; the layout resets the counter when it clears.
    static std::int32_t nextItemId;

private:
    std::int32_t id_;
    FmtRect rect_;
};

// A full-width caption bar naming a directory, or a directory and a recording date. Never
// selected itself; selecting it selects the clips counted under it.
class CFmtCaption : public CFmtItem {
public:
    CFmtCaption(const FmtRect& rect, std::string text) : CFmtItem(rect), text_(std::move(text)) {}
    void Paint(CFmtPaintContext& context) const override { context.PaintCaption(*this); }
    const std::string& Text() const { return text_; }

    std::int32_t firstClipId = 0;  // 0: no clip yet
    std::int32_t lastClipId = 0;

private:
    std::string text_;
};

// One clip cell. Its selection lives in the clip's thumbnail entry, so it survives a rebuild;
// a clip without an entry can never be selected.
class CFmtClip : public CFmtItem {
public:
    CFmtClip(const FmtRect& rect, CClipDetails* clips, CThumbnailSet* thumbnails, std::uint32_t index)
        : CFmtItem(rect), clips_(clips), thumbnails_(thumbnails), index_(index)
    {
    }
    void Paint(CFmtPaintContext& context) const override { context.PaintClip(*this); }
    bool Select() override;
    void Deselect() override;
    bool IsSelected() const override;

    CClipDetails* Clips() const { return clips_; }
    CThumbnailSet* Thumbnails() const { return thumbnails_; }
    std::uint32_t Index() const { return index_; }

private:
    CClipDetails* clips_;
    CThumbnailSet* thumbnails_;
    std::uint32_t index_;
};

// Implemented by the view: paint the given content rectangle again.
class IRepainter {
public:
    virtual ~IRepainter() = default;
    virtual void Repaint(const FmtRect& rect) = 0;
};
