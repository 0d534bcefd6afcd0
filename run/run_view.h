#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace kestrine {

// The box that ends a run with records to tell about: its first lines as a
// message box shows them, every line behind "Show details", and the failed
// records to save for a second run.
struct RunSummary {
  std::string text;         // the first lines
  std::string details;      // every line
  std::size_t savable = 0;  // failed records that can be saved; 0: saving is not offered
  std::string savePath;     // offered for them: <the CSV's name>-failed.csv beside it
  // Writes them to the path the administrator chose; "" when done, otherwise
  // what to tell the administrator.
  std::function<std::string(const std::string& path)> save;
};

// What the import run asks of the windows: the main window Form1, the progress
// window Loading and the completion window Complete, message boxes and the
// program end.
class RunView {
 public:
  virtual ~RunView() = default;

  virtual void hideForm1() = 0;
  virtual std::string filePathText() = 0;

  virtual void showLoading() = 0;
  virtual void hideLoading() = 0;
  virtual void setLoadingText(const std::string& text) = 0;
  // Draws lblLoading at once, then lets the toolkit handle what it has pending
  // other than input: the run never returns to the event loop.
  virtual void repaintLoading() = 0;

  virtual void setCompleteText(const std::string& text) = 0;
  virtual void showComplete() = 0;

  // A modal box; buttons 0 is a single OK button and no icon. An empty title
  // shows the application's title.
  virtual void messageBox(const std::string& prompt, int buttons, const std::string& title) = 0;
  // The run's summary: a modal box with OK under the application's title, in
  // front of the progress window, that also shows every line and saves the
  // failed records when the administrator asks.
  virtual void summaryBox(const RunSummary& summary) = 0;

  // Ends the process at once. A view that cannot end the process (a test
  // recorder) returns, and the run returns right after.
  virtual void endProgram() = 0;
};

}  // namespace kestrine
