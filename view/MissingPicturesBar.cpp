#include "view/MissingPicturesBar.h"

CMissingPicturesBar::CMissingPicturesBar(wxWindow* parent, std::function<void()> makeThumbnails,
                                         std::function<void(bool shown)> showOrHide)
    : COfferBar(parent, "Make Thumbnails", std::move(showOrHide)), makeThumbnails_(std::move(makeThumbnails))
{
}

wxString CMissingPicturesBar::TextFor(int clipsWithoutPicture)
{
    return clipsWithoutPicture == 1 ? wxString("1 clip has no picture")
                                    : wxString::Format("%d clips have no picture", clipsWithoutPicture);
}

void CMissingPicturesBar::Offer(const std::string& folder, int clipsWithoutPicture)
{
    if (clipsWithoutPicture <= 0 || dismissed_.count(folder) != 0) {
        Close();
        return;
    }
    folder_ = folder;
    Present(TextFor(clipsWithoutPicture));
}

void CMissingPicturesBar::OnAction()
{
    Close();
    makeThumbnails_();
}

void CMissingPicturesBar::OnDismissed()
{
    dismissed_.insert(folder_);
}
