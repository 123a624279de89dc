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
#include "platform/FileSystem.h"
#include "platform/VolumeMonitor.h"
#include "settings/Settings.h"
#include "support/CameraCard.h"
#include "support/CardLayout.h"
#include "support/Clips.h"
#include "support/JpegFixtures.h"
#include "support/LogCapture.h"
#include "support/MessageBoxRecorder.h"
#include "thumbgen/SharedThumbnails.h"
#include "view/CardBar.h"
#include "view/MissingPicturesBar.h"

#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/settings.h>
#include <wx/statusbr.h>

#include <cstring>
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

TEST(CardTest, KeptPicturesShowWhileGenerationIsOffAndTheBarCountsClipsWithNone)
{
    FrameFixture::Options options;
    options.realThumbnails = true;
    const unsigned long colours[] = {0xE61414, 0x14E614, 0x1414E6};  // red, green, blue
    options.beforeStart = [&](const TempDir& dir) {
        WriteClips(dir / "kept", {"00000.MTS", "00001.MTS", "00002.MTS", "00003.MTS"});
        // Thumbnail files beside the first two clips; the third pictured by a file manager.
        for (int i = 0; i < 3; ++i)
            WriteFile(dir / ("kept/0000" + std::to_string(i) + ".MTS.viewmere.jpg"),
                      SolidJpeg(384, 216, colours[i] >> 16, (colours[i] >> 8) & 255, colours[i] & 255));
        CRgbImage blue;
        blue.LoadJpegFile(dir / "kept/00002.MTS.viewmere.jpg", CRgbImage::DecodeRules{CRgbImage::kMaxPixels, true});
        std::remove((dir / "kept/00002.MTS.viewmere.jpg").c_str());
        ASSERT_TRUE(WriteSharedThumbnail(dir / "kept/00002.MTS", blue));
        settings::LastDirectory.Write(dir / "kept");  // generation stays off, as it is at first
    };
    FrameFixture f(options);
    CMissingPicturesBar* bar = f.frame->MissingPicturesBar();
    auto shows = [&](int slot) {  // the cell's picture on the screen is the clip's colour
        const FmtRect& cell = f.view->GridLayout().Items().at(static_cast<std::size_t>(slot) + 1)->GetRect();
        const wxColour shown = ClientPixel(f.view, wxPoint(cell.left + 60, cell.top + 60));
        const wxColour wanted(colours[slot] >> 16, (colours[slot] >> 8) & 255, colours[slot] & 255);
        return std::abs(shown.Red() - wanted.Red()) + std::abs(shown.Green() - wanted.Green()) +
                   std::abs(shown.Blue() - wanted.Blue()) < 24;
    };
    Pump(10s, [&] { return BarShown(f, bar) && shows(0) && shows(1) && shows(2); });
    EXPECT_TRUE(shows(0) && shows(1) && shows(2));
    ASSERT_TRUE(BarShown(f, bar));
    EXPECT_EQ(bar->Text(), "1 clip has no picture");
    EXPECT_FALSE(settings::GenerateThumbnails.Read());
    EXPECT_FALSE(platform::FileExists(f.dir / "kept/00003.MTS.viewmere.jpg"));  // nothing was made
}

namespace {

// Whether the grid says `text` where it has no clips: its pixels there are those of the text
// drawn with the grid's font and colours.
bool GridSays(CChildView* view, const wxString& text)
{
    const wxRect box = view->EmptyGridTextRect();
    wxBitmap expected(box.GetSize());
    wxMemoryDC dc(expected);
    dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
    dc.Clear();
    dc.SetFont(view->EmptyGridFont());
    dc.SetTextForeground(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNTEXT));
    dc.DrawText(text, 0, 0);
    dc.SelectObject(wxNullBitmap);
    const wxImage drawn = expected.ConvertToImage();
    const wxImage shown = ScreenShot(wxRect(view->ClientToScreen(box.GetTopLeft()), box.GetSize()));
    return shown.IsOk() && memcmp(drawn.GetData(), shown.GetData(), 3u * box.width * box.height) == 0;
}

}  // namespace

TEST(CardTest, AnEmptyWindowSaysWhatToDoTheDialogStartsWhereClipsAreAndAPulledCardShows)
{
    FrameFixture::Options options;
    options.beforeStart = [](const TempDir& dir) {
        MakeDirs(dir / "My Videos");
        WriteFile(dir / "config/user-dirs.dirs", "XDG_VIDEOS_DIR=\"" + dir / "My Videos" + "\"\n");
    };
    FrameFixture f(options);
    RealInput input;
    Pump(2s, [&] { return GridSays(f.view, "Open a folder, or insert a camcorder card"); });
    EXPECT_TRUE(GridSays(f.view, "Open a folder, or insert a camcorder card"));

    // Its button opens the folder dialog at the videos folder on a first start; a folder without
    // clips says so, and the next dialog starts there.
    const std::string empty = f.dir / "empty";
    MakeDirs(empty);
    f.view->nextFolder = empty;
    Click(input, f.view->EmptyGridButton());
    Pump(2s, [&] { return GridSays(f.view, wxString::FromUTF8("No clips in " + empty)); });
    EXPECT_TRUE(GridSays(f.view, wxString::FromUTF8("No clips in " + empty)));
    f.view->nextFolder.clear();
    Click(input, f.view->EmptyGridButton());
    EXPECT_EQ(f.view->dialogStarts, (std::vector<std::string>{f.dir / "My Videos", empty}));

    // That folder gone, it starts at the camcorder card the desktop has mounted. Pulled, the
    // card shows in the status bar and on its bar until it is back.
    RemoveTree(empty);
    const std::string card = f.dir / "CAMCARD";
    MakeCard(card);
    f.frame->MountAdded({"CAMCARD", card});
    f.view->nextFolder = card;
    Click(input, f.view->EmptyGridButton());
    EXPECT_EQ(f.view->dialogStarts.back(), card);
    Pump(1s, [&] { return wxWindow::FindFocus() == f.view; });
    EXPECT_EQ(wxWindow::FindFocus(), f.view);  // the keys go to the grid, not the button now hidden
    f.frame->MountRemoved({"CAMCARD", card});
    Pump(1s, [&] { return BarShown(f); });
    EXPECT_EQ(f.frame->GetStatusBar()->GetStatusText(1),
              "Card removed: its clips cannot be played until it is back (1 folder, 2 clips)");
    EXPECT_EQ(f.frame->CardBar()->Text(), "Camcorder card CAMCARD was removed: its clips cannot be played until it is back");
    EXPECT_TRUE(BarShown(f) && !f.frame->CardBar()->OpenButton()->IsShown());
    f.frame->MountAdded({"CAMCARD", card});
    Pump(1s, [&] { return !BarShown(f); });
    EXPECT_TRUE(f.frame->GetStatusBar()->GetStatusText(1).StartsWith("Idle (1 folder, 2 clips)") && !BarShown(f));
}

// A card of today's cameras: AVCHD, XAVC S and DCIM clips in one grid, each folder under its
// caption bar, with the camera's pictures and grabs on the screen (and in the desktop's cache);
// pointed at, an XAVC S clip tells its camera's time and model, and a double click plays it.
TEST(CardTest, ACardOfTodaysCamerasShowsEveryKindUnderItsCaptionWithItsPicture)
{
    FrameFixture::Options options;
    options.realThumbnails = true;
    CameraCard card;
    options.beforeStart = [&](const TempDir& dir) {
        card = WriteCameraCard(dir / "card");
        settings::LastDirectory.Write(card.root);
        settings::GenerateThumbnails.Write(true);
        settings::SplitDates.Write(false);
    };
    FrameFixture f(options);
    RealInput input;
    const auto& items = f.view->GridLayout().Items();
    Pump(60s, [&] { return items.size() == 10 && f.view->Document().CountClipsWithoutPicture() == 1; });
    ASSERT_EQ(items.size(), 10u);  // three captions and seven clips
    std::vector<std::string> captions;
    for (const IFmtItem* item : items)
        if (const auto* caption = dynamic_cast<const CFmtCaption*>(item))
            captions.push_back(caption->Text());
    EXPECT_EQ(captions, (std::vector<std::string>{card.root, card.root + "/PRIVATE/M4ROOT/CLIP", card.root + "/dcim/100canon"}));

    // What each cell shows, scrolled into view: [item] = red, green, blue over the picture's middle.
    auto shown = [&](std::size_t item) {
        const FmtRect& cell = items.at(item)->GetRect();
        f.view->ScrollTo(wxVERTICAL, cell.top);
        Pump(300ms);
        const int top = cell.top - f.view->ScrollPosition(wxVERTICAL);
        std::set<unsigned long> colours;
        for (int x = cell.left + 20; x < cell.right - 20; x += 16)
            colours.insert(ClientPixel(f.view, wxPoint(x, top + 100)).GetRGB());
        const wxColour middle = ClientPixel(f.view, wxPoint((cell.left + cell.right) / 2, top + 100));
        return std::tuple{int(middle.Red()) / 32, int(middle.Green()) / 32, int(middle.Blue()) / 32, colours.size()};
    };
    EXPECT_EQ(shown(1), std::tuple(0, 6, 3, std::size_t{1}));  // the AVCHD camera's picture (0, 200, 100)
    EXPECT_GT(std::get<3>(shown(2)), 5u);                       // a grab
    EXPECT_EQ(shown(4), std::tuple(0, 7, 0, std::size_t{1}));  // the XAVC S camera's JPEG, lime
    EXPECT_EQ(shown(5), std::tuple(7, 0, 7, std::size_t{1}));  // the one its list names, magenta
    EXPECT_GT(std::get<3>(shown(6)), 5u);                       // no picture by the camera: a grab
    // The camera's pictures, 640 x 360 and 160 x 90, fill the grid's place as a grab does.
    for (const std::size_t item : {4, 5}) {
        const FmtRect& cell = items.at(item)->GetRect();
        EXPECT_EQ(cell.Width(), items.at(6)->GetRect().Width()) << item;
        f.view->ScrollTo(wxVERTICAL, cell.top);
        Pump(300ms);
        const wxPoint corner(cell.left + CFmtLayout::kPictureBorder + 380,
                             cell.top - f.view->ScrollPosition(wxVERTICAL) + CFmtLayout::kPictureBorder + 212);
        EXPECT_EQ(ClientPixel(f.view, corner), ClientPixel(f.view, corner - wxPoint(300, 150))) << item;
    }
    EXPECT_GT(std::get<3>(shown(8)), 5u);                       // the H.265 clip's grab, shared
    const std::string sharedEntry = SharedThumbnailPath(SharedThumbnailUri(card.dcimMovie), "large");
    Pump(10s, [&] { return platform::FileExists(sharedEntry); });  // written when the CPU has room
    EXPECT_TRUE(platform::FileExists(sharedEntry));

    const FmtRect& described = items.at(4)->GetRect();
    f.view->ScrollTo(wxVERTICAL, described.top);
    const wxPoint picture(described.left + 60, described.top - f.view->ScrollPosition(wxVERTICAL) + 60);
    wxStatusBar* status = f.frame->GetStatusBar();
    input.PointAt(f.view, picture);
    const std::string details = "C0001.MP4: 0:02, 1 file, recorded 06:10:57 3-Jan-2016 UTC-04:00, camera Sony ILCE-7M3";
    Pump(3s, [&] { return status->GetStatusText(0).utf8_string() == details; });
    EXPECT_EQ(status->GetStatusText(0).utf8_string(), details);
    EXPECT_EQ(f.view->GetToolTipText(), status->GetStatusText(0));
    input.DoubleClickAt(f.view, picture);
    Pump(2s, [&] { return !f.view->opened.empty(); });
    EXPECT_EQ(f.view->opened, (std::vector<std::vector<std::string>>{{card.xavcDescribed}}));
}
