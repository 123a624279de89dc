// The bars above the grid. Camcorder cards found when they are inserted: the desktop's mount
// events reach the main window (through its seam, and from a real loop-mounted card where the
// machine allows it), the bar offers the card, and a real click opens it. A pulled card's clips
// stay listed and say that they are gone when played or dragged. Clips without a picture while
// generation is off: the bar offers to make them, and a real click does.
#include "gui/GuiTestSupport.h"
#include "gui/RealInput.h"
#include "imaging/RgbImage.h"
#include "log/EventLog.h"
#include "res/Resources.h"
#include "platform/VolumeMonitor.h"
#include "settings/Settings.h"
#include "support/CardLayout.h"
#include "support/Clips.h"
#include "support/LogCapture.h"
#include "support/MessageBoxRecorder.h"
#include "view/CardBar.h"
#include "view/MissingPicturesBar.h"

#include <wx/button.h>

#include <set>

#include <sys/mount.h>

#include <gtest/gtest.h>

using namespace gui_testing;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

void MakeCard(const std::string& root)
{
    // Names as a card mounted vfat may show them.
    for (const char* clip : {"00000.MTS", "00001.MTS"})
        WriteFile(root + "/private/AVCHD/BDMV/STREAM/" + clip, "x");
}

void Click(RealInput& input, wxButton* button)
{
    Pump(300ms);  // the bar is laid out once it has been shown
    const wxSize size = button->GetClientSize();
    input.ClickAt(button, wxPoint(size.x / 2, size.y / 2));
}

bool BarShown(FrameFixture& f, wxWindow* bar)
{
    return f.frame->Aui().GetPane(bar).IsShown() && bar->IsShownOnScreen();
}

bool BarShown(FrameFixture& f)
{
    return BarShown(f, f.frame->CardBar());
}

}  // namespace

TEST(CardTest, AnInsertedCardIsOfferedOpenOpensItAndAPulledOneStaysListed)
{
    FrameFixture f;
    MessageBoxRecorder boxes;
    RealInput input;
    MakeDirs(f.dir / "stick/DCIM");
    f.frame->MountAdded({"STICK", f.dir / "stick"});  // no clip tree: nothing offered
    Pump(200ms);
    EXPECT_FALSE(BarShown(f));

    const std::string card = f.dir / "CAMCARD";
    MakeCard(card);
    f.frame->MountAdded({"CAMCARD", card});
    Pump(2s, [&] { return BarShown(f); });
    ASSERT_TRUE(BarShown(f));
    EXPECT_EQ(f.frame->CardBar()->Text(), "Camcorder card CAMCARD inserted");
    // The bar sits between the toolbar and the grid, and the grid is still usable.
    EXPECT_LE(f.frame->CardBar()->GetScreenRect().GetBottom(), f.view->GetScreenRect().GetTop());
    EXPECT_TRUE(ToolkitSensitive(f.view));

    Click(input, f.frame->CardBar()->OpenButton());
    Pump(2s, [&] { return f.view->GridLayout().Items().size() == 3; });
    ASSERT_EQ(f.view->GridLayout().Items().size(), 3u);  // a caption and two clips
    EXPECT_EQ(settings::LastDirectory.Read(), card);
    EXPECT_FALSE(BarShown(f));

    // Pulled: the grid keeps its items; playing and dragging say the files are gone, once each.
    RemoveTree(card);
    TakeLogMessages();
    f.frame->MountRemoved({"CAMCARD", card});
    Pump(100ms);
    EXPECT_EQ(f.view->GridLayout().Items().size(), 3u);
    EXPECT_TRUE(Contains(TakeLogMessages(), "The card that holds [" + card + "] was removed"));
    const auto* clip = dynamic_cast<const CFmtClip*>(f.view->GridLayout().Items().at(1));
    ASSERT_NE(clip, nullptr);
    f.view->PlayClip(*clip);
    // A clip is selectable once it has a picture.
    auto picture = std::make_unique<CRgbImage>();
    picture->width = picture->height = 4;
    picture->stride = static_cast<int>(CRgbImage::StrideFor(4));
    picture->pixels = imaging::AllocatePixels(static_cast<std::size_t>(picture->stride) * 4);
    f.view->Document().GetDirectory(0)->thumbnails->SetImage(1, std::move(picture));
    f.view->RefreshGrid();
    f.view->GridLayout().SetSelected(f.view->GridLayout().Items().at(2), f.view, true, false);
    f.view->StartDrag();
    wxCommandEvent playAll(wxEVT_MENU, res::kCmdPlayAll);
    f.frame->ProcessWindowEvent(playAll);
    const auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].text, "The clip [" + card + "/private/AVCHD/BDMV/STREAM/00000.MTS] is no longer there.\n\n"
                             "The card that holds it may have been removed.");
    EXPECT_NE(shown[1].text.find("00001.MTS] is no longer there."), std::string::npos);
    EXPECT_EQ(shown[2].text.rfind("2 of the clips are no longer there, among them [", 0), 0u);
    EXPECT_TRUE(f.view->drags.empty());
    EXPECT_TRUE(f.view->opened.empty() && f.view->played.empty());

    // Put back, with a clip more: the folder is opened again as the card now is, not offered.
    MakeCard(card);
    WriteFile(card + "/private/AVCHD/BDMV/STREAM/00002.MTS", "x");
    f.frame->MountAdded({"CAMCARD", card});
    Pump(2s, [&] { return f.view->GridLayout().Items().size() == 4; });
    EXPECT_EQ(f.view->GridLayout().Items().size(), 4u);
    EXPECT_FALSE(BarShown(f));

    // Dismiss leaves a card alone.
    const std::string second = f.dir / "SECOND";
    MakeCard(second);
    f.frame->MountAdded({"SECOND", second});
    Pump(2s, [&] { return BarShown(f); });
    Click(input, f.frame->CardBar()->DismissButton());
    Pump(1s, [&] { return !BarShown(f); });
    EXPECT_FALSE(BarShown(f));
    EXPECT_EQ(settings::LastDirectory.Read(), card);
}

TEST(CardTest, ARealLoopMountedFatCardIsOfferedWhereTheMachineAllowsMounting)
{
    FrameFixture f;
    const std::string image = f.dir / "card.img";
    const std::string mountPoint = "/media/viewmere-test-" + std::to_string(getpid());
    const std::string mount = "mount -o loop " + ShellQuote(image) + " " + ShellQuote(mountPoint);
    // The card is filled in a first mount, so that it holds its clips when it appears.
    if (Shell("truncate -s 16M " + ShellQuote(image) + " && mkfs.vfat -n CAMCARD " + ShellQuote(image) +
              " >/dev/null 2>&1 && mkdir -p " + ShellQuote(mountPoint) + " && " + mount + " 2>/dev/null") != 0) {
        rmdir(mountPoint.c_str());
        GTEST_SKIP() << "this machine does not let a FAT image be loop-mounted (no vfat, or no right to mount)";
    }
    MakeCard(mountPoint);
    ASSERT_EQ(Shell("umount " + ShellQuote(mountPoint)), 0);
    Pump(1s);
    ASSERT_EQ(Shell(mount), 0);
    Pump(10s, [&] { return BarShown(f); });
    EXPECT_TRUE(BarShown(f));
    EXPECT_EQ(f.frame->CardBar()->OfferedRoot(), mountPoint);
    RealInput input;
    Click(input, f.frame->CardBar()->OpenButton());
    Pump(2s, [&] { return f.view->GridLayout().Items().size() == 3; });
    EXPECT_EQ(f.view->GridLayout().Items().size(), 3u);
    TakeLogMessages();
    Shell("umount " + ShellQuote(mountPoint));
    rmdir(mountPoint.c_str());
    Pump(10s, [&] { return Contains(TakeLogMessages(), "was removed"); });
    EXPECT_EQ(f.view->GridLayout().Items().size(), 3u);
}

TEST(CardTest, ClipsWithoutAPictureAreOfferedTheirThumbnailsWhileGenerationIsOff)
{
    FrameFixture::Options options;
    options.realThumbnails = true;
    std::string first, second;
    options.beforeStart = [&](const TempDir& dir) {
        CardOptions camera;
        camera.thumbnailBlocks = 1;  // the camera pictured 00000 only
        first = dir / "first";
        second = dir / "second";
        const std::string stream = WriteCard(first, camera);
        MakeDirs(second);
        for (const std::string& clip : {stream + "/00001.MTS", stream + "/00002.MTS", second + "/00000.m2ts"})
            ASSERT_EQ(Shell("cp " + ShellQuote(TestClips().progressive720) + " " + ShellQuote(clip)), 0);
        settings::LastDirectory.Write(first);  // generation is off, as it is by default
    };
    FrameFixture f(options);
    CMissingPicturesBar* bar = f.frame->MissingPicturesBar();
    RealInput input;
    Pump(3s, [&] { return BarShown(f, bar); });
    ASSERT_TRUE(BarShown(f, bar));
    EXPECT_EQ(bar->Text(), "2 clips have no picture");
    EXPECT_LE(bar->GetScreenRect().GetBottom(), f.view->GetScreenRect().GetTop());

    // Dismissed, it is not offered again for that folder, but it is for another.
    Click(input, bar->DismissButton());
    f.view->OpenFolderAt(first);
    Pump(500ms);
    EXPECT_FALSE(BarShown(f, bar));
    f.view->OpenFolderAt(second);
    Pump(2s, [&] { return BarShown(f, bar); });
    EXPECT_EQ(bar->Text(), "1 clip has no picture");

    // Make Thumbnails turns generation on as the Options dialog does, and the thumbnail comes:
    // its file, and its picture on the screen (the frame's many colours across the cell).
    Click(input, bar->ActionButton());
    auto coloursAcrossCell = [&] {
        const FmtRect& cell = f.view->GridLayout().Items().at(1)->GetRect();
        std::set<unsigned long> colours;
        for (int x = cell.left + 10; x < cell.right - 10; x += 8)
            colours.insert(ClientPixel(f.view, wxPoint(x, cell.top + cell.Height() / 2)).GetRGB());
        return colours.size();
    };
    Pump(30s, [&] { return f.view->Document().CountClipsWithoutPicture() == 0 && coloursAcrossCell() > 5; });
    EXPECT_GT(coloursAcrossCell(), 5u);
    EXPECT_TRUE(settings::GenerateThumbnails.Read());
    EXPECT_TRUE(platform::FileExists(second + "/00000.m2ts.viewmere.jpg"));
    EXPECT_FALSE(BarShown(f, bar));
}
