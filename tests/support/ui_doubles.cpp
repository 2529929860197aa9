#include "tests/support/ui_doubles.h"

#include "base/user_interface.h"
#include "engine/data_source.h"
#include "package/reader_seam.h"

UiLog& Ui() {
  static UiLog log;
  return log;
}

void ResetUi() {
  Ui() = UiLog();
  ConnectTestSeams();
}

static void RecordPump() { ++Ui().pumps; }

static int RecordMessage(const char* text, u32 style) {
  Ui().messages.push_back(text);
  Ui().styles.push_back(style);
  return Ui().answer;
}

void ConnectTestSeams() {
  // No folder variables outside Windows: a group's folder stays as stored.
  Reader.openNextVolume = OpenNextVolume;
  Reader.expandVariables = nullptr;
  UserInterface doubles = {RecordMessage, RecordPump, nullptr, nullptr};
  ConnectUserInterface(doubles);
}

// Every program that links the stand-ins has them connected from the start,
// before any test (or fuzz input) reads a package.
[[maybe_unused]] static const int ConnectedAtStart = (ConnectTestSeams(), 1);
