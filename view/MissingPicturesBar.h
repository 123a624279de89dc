#pragma once
#include "view/OfferBar.h"

#include <functional>
#include <set>
#include <string>

// The bar above the grid that offers to make the thumbnails an open folder lacks while their
// generation is off: "N clips have no picture" with Make Thumbnails and Dismiss. Dismissed, it
// is not offered again for that folder while the program runs.
class CMissingPicturesBar : public COfferBar {
public:
    CMissingPicturesBar(wxWindow* parent, std::function<void()> makeThumbnails, std::function<void(bool shown)> showOrHide);

    // Offers the folder's clips without a picture; with none, or for a dismissed folder, the
    // bar is hidden.
    void Offer(const std::string& folder, int clipsWithoutPicture);
    void Withdraw() { Close(); }

    static wxString TextFor(int clipsWithoutPicture);

private:
    void OnAction() override;
    void OnDismissed() override;

    std::function<void()> makeThumbnails_;
    std::string folder_;
    std::set<std::string> dismissed_;
};
