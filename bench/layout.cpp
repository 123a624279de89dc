// The clip grid with thousands of clips:
//  - Build of a 40,000-clip document against 4,000 clips (it must grow linearly: <= 12x);
//  - the real paint through the X server: a repaint of the 1920 x 1080 grid of thumbnails forced
//    and waited for (until the X server has drawn it), against a window of the same size whose
//    paint draws one window-sized bitmap of the same content: the full repaint at most 2x that,
//    the repaint of one cell as a changed picture is painted (CChildView::RepaintNow, as while
//    skimming) at most 0.2x. The last two lines give them; the compose alone (off screen, in
//    this process) is printed too.
// Needs a display; `make bench` provides a virtual one.
#include "support/BenchTimer.h"
#include "support/ScratchFolder.h"
#include "view/ChildView.h"

#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/init.h>

#include <gdk/gdk.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

void MakeFolders(const std::string& root, int folders, int clipsPerFolder)
{
    for (int d = 0; d < folders; ++d) {
        const std::string folder = root + "/folder" + std::to_string(d);
        std::string command = "mkdir -p '" + folder + "'";
        if (std::system(command.c_str()) != 0)
            return;
        for (int c = 0; c < clipsPerFolder; ++c) {
            char name[32];
            std::snprintf(name, sizeof name, "/%05d.MTS", c);
            if (std::FILE* f = std::fopen((folder + name).c_str(), "wb"))
                std::fclose(f);
        }
    }
}

// Every clip gets a 416 x 234 thumbnail; only the first `withPixels` have pixels (the window
// shows no more than that), the rest lay out alike without the memory.
void GiveThumbnails(CAVCHDDoc& doc, int withPixels)
{
    int given = 0;
    for (int d = 0; d < doc.GetDirectoryCount(); ++d) {
        auto directory = doc.GetDirectory(d);
        for (int i = 0; i < directory->clips->GetCount(); ++i, ++given) {
            auto picture = std::make_unique<CRgbImage>();
            picture->width = 416;
            picture->height = 234;
            if (given < withPixels) {
                picture->stride = static_cast<int>(CRgbImage::StrideFor(416));
                picture->pixels = imaging::AllocatePixels(static_cast<std::size_t>(picture->stride) * 234);
                for (std::size_t b = 0; b < static_cast<std::size_t>(picture->stride) * 234; ++b)
                    picture->pixels[b] = static_cast<std::uint8_t>(b * 7 + given * 31);
            }
            directory->thumbnails->SetImage(i, std::move(picture));
        }
    }
}

class BenchApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

// The reference: a window whose paint draws one bitmap of its size.
class BareWindow : public wxWindow {
public:
    BareWindow(wxWindow* parent, const wxBitmap& picture) : wxWindow(parent, wxID_ANY), picture_(picture)
    {
        SetBackgroundStyle(wxBG_STYLE_PAINT);
        Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
            wxPaintDC dc(this);
            dc.DrawBitmap(picture_, 0, 0, false);
        });
    }

private:
    wxBitmap picture_;
};

// Paints the rectangle of the window now and waits until the X server has drawn it: through
// the toolkit's paint, or as the grid paints one cell whose picture changed.
void PaintAndWait(wxWindow* window, const wxRect& rect)
{
    window->RefreshRect(rect, false);
    window->Update();
    gdk_display_sync(gdk_display_get_default());
}

void PaintCellAndWait(CChildView* grid, const FmtRect& cell)
{
    grid->RepaintNow(cell);
    gdk_display_sync(gdk_display_get_default());
}

void Settle(wxGUIEventLoop& loop)
{
    for (int i = 0; i < 10; ++i)
        loop.DispatchTimeout(5);
    gdk_display_sync(gdk_display_get_default());
}

// Seconds per paint of each window, as medians of alternating rounds; the window measured is
// raised over the other first, so each paints all its pixels to the screen.
struct PaintTimes {
    double full = 0, cell = 0, bare = 0;
};
PaintTimes MeasurePaints(wxGUIEventLoop& loop, CChildView* grid, const FmtRect& cell, wxWindow* bare, int perRound,
                         int rounds)
{
    const wxRect all(wxPoint(0, 0), grid->GetClientSize());
    std::vector<double> full, one, reference;
    auto time = [&](wxWindow* window, const std::function<void()>& paint, std::vector<double>& into) {
        wxGetTopLevelParent(window)->Raise();
        Settle(loop);
        paint();  // warm
        into.push_back(bench::SecondsPerCall(paint, perRound));
    };
    for (int round = 0; round < rounds; ++round) {
        time(grid, [&] { PaintAndWait(grid, all); }, full);
        time(bare, [&] { PaintAndWait(bare, all); }, reference);
        time(grid, [&] { PaintCellAndWait(grid, cell); }, one);
    }
    return {bench::Median(full), bench::Median(one), bench::Median(reference)};
}

}  // namespace

int main(int argc, char** argv)
{
    wxApp::SetInstance(new BenchApp);
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    const bench::ScratchFolder scratch;  // settings at their defaults
    if (!scratch.Ok())
        return 1;
    const std::string& base = scratch.Path();
    MakeFolders(base + "/small", 200, 20);   // 4,000 clips
    MakeFolders(base + "/large", 2000, 20);  // 40,000 clips

    double buildSmall = 0, buildLarge = 0, repaint = 0, bare = 0;
    PaintTimes paints;
    wxSize cellSize;
    {
        wxGUIEventLoop loop;
        wxEventLoopActivator active(&loop);
        auto* frame = new wxFrame(nullptr, wxID_ANY, "bench", wxPoint(0, 0), wxSize(1920, 1080));
        auto* view = new CChildView(frame, [](ThumbnailQueue&, const std::string&) {});
        frame->Show();
        frame->SetClientSize(1920, 1080);
        for (int i = 0; i < 20; ++i)
            loop.DispatchTimeout(10);

        // The small document has a layout of its own; the view's holds the large one.
        CAVCHDDoc smallDoc([](ThumbnailQueue&, const std::string&) {});
        CFmtLayout smallLayout(&smallDoc);
        smallLayout.width = view->GetClientSize().x;
        smallDoc.OpenDirectory(base + "/small");
        GiveThumbnails(smallDoc, 0);
        CAVCHDDoc& doc = view->Document();
        CFmtLayout& layout = view->GridLayout();
        layout.width = view->GetClientSize().x;
        doc.OpenDirectory(base + "/large");
        GiveThumbnails(doc, 40);
        // The clips' streams are read in the background after opening: timed layouts must not
        // share the machine with those reads.
        for (CAVCHDDoc* opened : {&smallDoc, &doc})
            while (opened->GetPendingRecordingTimes() > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        // Measured in alternating rounds, so a busy neighbour hits both alike.
        const bench::PairResult builds =
            bench::MeasurePair([&] { layout.Build(); }, [&] { smallLayout.Build(); }, 5, 15);
        buildSmall = builds.reference;
        buildLarge = builds.candidate;
        view->RefreshGrid();
        for (int i = 0; i < 20; ++i)
            loop.DispatchTimeout(10);

        // The target both are copied to: a window-sized surface.
        const wxRect client(wxPoint(0, 0), view->GetClientSize());
        wxBitmap target(client.width, client.height);
        wxMemoryDC targetDc(target);
        const wxBitmap same = view->ComposeBuffer(client).GetSubBitmap(client);  // the same content, made once
        auto fullRepaint = [&] {
            const wxBitmap& buffer = view->ComposeBuffer(client);
            wxMemoryDC source;
            source.SelectObjectAsSource(buffer);
            targetDc.Blit(0, 0, client.width, client.height, &source, 0, 0);
        };
        auto bareBlit = [&] {
            wxMemoryDC source;
            source.SelectObjectAsSource(same);
            targetDc.Blit(0, 0, client.width, client.height, &source, 0, 0);
        };
        const bench::PairResult result = bench::MeasurePair(fullRepaint, bareBlit, 20, 9);
        repaint = result.candidate;
        bare = result.reference;
        targetDc.SelectObject(wxNullBitmap);

        // The real paints. The bare window's bitmap is a drawing surface, as the grid's are.
        wxBitmap surface(client.width, client.height);
        {
            wxMemoryDC dc(surface);
            dc.DrawBitmap(same, 0, 0, false);
        }
        auto* bareFrame = new wxFrame(nullptr, wxID_ANY, "bare", wxPoint(0, 0), wxSize(1920, 1080));
        auto* bareWindow = new BareWindow(bareFrame, surface);
        bareFrame->Show();
        bareFrame->SetClientSize(client.GetSize());
        Settle(loop);
        const FmtRect cell = layout.Items().at(1)->GetRect();  // the first clip's cell
        cellSize = wxSize(cell.Width(), cell.Height());
        paints = MeasurePaints(loop, view, cell, bareWindow, 20, 9);
        bareFrame->Destroy();
        frame->Destroy();
        for (int i = 0; i < 5; ++i)
            loop.DispatchTimeout(10);
    }
    std::printf("Build, 4,000 clips:   %8.2f ms\n", buildSmall * 1e3);
    std::printf("Build, 40,000 clips:  %8.2f ms (%.1fx; target <= 12)\n", buildLarge * 1e3, buildLarge / buildSmall);
    std::printf("in process: a 1920 x 1080 grid composed and copied %.2f ms, one bitmap copied %.2f ms (%.2fx)\n",
                repaint * 1e3, bare * 1e3, repaint / bare);
    std::printf("painted through the X server, 1920 x 1080 grid of thumbnails: %.2f ms\n", paints.full * 1e3);
    std::printf("painted through the X server, one cell (%d x %d):            %.2f ms\n", cellSize.x, cellSize.y,
                paints.cell * 1e3);
    std::printf("painted through the X server, one window-sized bitmap:        %.2f ms\n", paints.bare * 1e3);
    wxTheApp->OnExit();
    wxEntryCleanup();
    bench::PrintRatio("layout, one cell", paints.cell / paints.bare, 0.2);
    bench::PrintRatio("layout", paints.full / paints.bare, 2.0);
    return 0;
}
