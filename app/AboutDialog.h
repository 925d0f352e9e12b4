#pragma once

#include "app/Framework.h"

namespace skm {

// The About box: all behaviour is the framework's (OK ends it).
class AboutDialog : public Dialog {
 public:
  explicit AboutDialog(HWND parent = nullptr);

 protected:
  void DoDataExchange(DataExchange& dx) override;
};

}  // namespace skm
