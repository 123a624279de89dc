#include "app/ViewmereApp.h"

wxIMPLEMENT_APP(CViewmereApp);
