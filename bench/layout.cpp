// The clip grid with thousands of clips:
//  - Build of a 40,000-clip document against 4,000 clips (it must grow linearly: <= 12x);
//  - a full repaint of a 1920 x 1080 window of thumbnails (composed off screen and copied, as
//    every paint is) against the bare cost of the same pixels: copying one window-sized
//    wxBitmap of the same content. Last line: repaint against the bare copy (target <= 3).
// Needs a display; `make bench` provides a virtual one.
#include "support/BenchTimer.h"
#include "support/ScratchFolder.h"
#include "view/ChildView.h"

#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/init.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

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
        frame->Destroy();
        for (int i = 0; i < 5; ++i)
            loop.DispatchTimeout(10);
    }
    std::printf("Build, 4,000 clips:   %8.2f ms\n", buildSmall * 1e3);
    std::printf("Build, 40,000 clips:  %8.2f ms (%.1fx; target <= 12)\n", buildLarge * 1e3, buildLarge / buildSmall);
    std::printf("full repaint of a 1920 x 1080 window of thumbnails: %.2f ms\n", repaint * 1e3);
    std::printf("bare copy of one window-sized bitmap:               %.2f ms\n", bare * 1e3);
    wxTheApp->OnExit();
    wxEntryCleanup();
    bench::PrintRatio("layout", repaint / bare, 3.0);
    return 0;
}
