#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/Framework.h"
#include "app/JobDisplay.h"

namespace skm {

// The converter's one window. It owns the source list and the output folder, and hosts the
// conversion job, which runs on a worker thread; the job's events become control updates
// delivered through synchronous messages.
class MainDialog : public Dialog, public JobDisplay {
 public:
  explicit MainDialog(HWND parent = nullptr);
  ~MainDialog() override;

  // JobHost, called from the worker thread.
  const std::vector<std::string>& sourcePaths() const override { return sourcePathList; }
  const std::string& outputFolder() const override { return outputFolderText; }
  bool stopRequested() const override { return stopping.load(); }

 protected:
  // JobDisplay's control updates, from the worker thread.
  void setProgressPosition(int position) override;
  void setStatusText(const std::string& text) override;
  void setMessageText(const std::string& text) override;
  void enableButton(int controlId) override;

  void DoDataExchange(DataExchange& dx) override;
  BOOL OnInitDialog() override;
  void OnCancel() override;
  void OnEndModal() override;
  bool RouteMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void OnSysCommand(UINT id, LPARAM parameter);
  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnConvert();
  void OnSelectFolder();
  void OnClose();

  bool running() const;
  void startJob();
  // Waits for the worker while delivering the messages it sends, so it can never block on us.
  void waitForWorker();
  void enableControl(int id, bool enable);

  static const MessageMapEntry<MainDialog> messageMap[6];

  // The folder packages are written to; ends in a backslash after the first choice.
  std::string outputFolderText;
  // Full paths of the gestures found by the last scan, in scan order.
  std::vector<std::string> sourcePathList;
  ProgressCtrl progressBar;
  HICON icon;

  std::thread worker;
  HANDLE workerDone;  // manual-reset event, set when the worker has finished
  std::atomic<bool> stopping{false};
};

}  // namespace skm
