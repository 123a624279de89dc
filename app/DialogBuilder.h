#pragma once
#include "res/Resources.h"

#include <wx/dialog.h>

// Creates a dialog's controls from its template, placed in dialog units of the dialog's font.
// Returns the first control of each kind by id through FindWindow as usual.
void BuildDialog(wxDialog& dialog, const res::DialogTemplate& layout);
