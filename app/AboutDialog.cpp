#include "app/AboutDialog.h"

#include "app/resource.h"

namespace skm {

AboutDialog::AboutDialog(HWND parent) : Dialog(IDD_ABOUTBOX, parent) {}

void AboutDialog::DoDataExchange(DataExchange& dx) {
  Dialog::DoDataExchange(dx);
}

}  // namespace skm
