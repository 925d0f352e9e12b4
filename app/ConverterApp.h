#pragma once

#include "app/Framework.h"

namespace skm {

// The application object: shows the main dialog once and ends with it.
class ConverterApp : public WinApp {
 public:
  BOOL InitInstance() override;
  int ExitInstance() override;
};

}  // namespace skm
