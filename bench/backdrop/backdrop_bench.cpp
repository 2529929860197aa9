// Repaint cost of the full-screen gradient backdrop: paints a 1920 x 1080
// memory bitmap (compatible with the display, as the backdrop's off-screen
// bitmap is) again and again with the dithered gradient, the banded gradient
// and the whole backdrop (gradient, off-screen bitmap, copy to the target),
// against a plain FillRect of the same area measured in the same run, round
// by round interleaved.
//   backdrop_bench.exe [rounds] [paints per round]
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <vector>

#include "backdrop/painting_win.h"

namespace {

const int Width = 1920, Height = 1080;

// Seconds of this thread's CPU time (user and kernel) and of the wall clock.
struct Clock {
  double cpu, wall;
};

Clock Now() {
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return (double)(((unsigned long long)t.dwHighDateTime << 32) | t.dwLowDateTime) / 1e7;
  };
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return {seconds(kernel) + seconds(user), (double)counter.QuadPart / (double)frequency.QuadPart};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Method {
  const char* name;
  std::vector<double> cpu, wall;  // per paint, milliseconds
};

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? atoi(argv[1]) : 9;
  const int paints = argc > 2 ? atoi(argv[2]) : 200;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, Width, Height);
  HDC target = CreateCompatibleDC(screen);  // stands in for the window
  HBITMAP targetBitmap = CreateCompatibleBitmap(screen, Width, Height);
  if (!memory || !bitmap || !target || !targetBitmap) {
    fprintf(stderr, "no %d x %d bitmap\n", Width, Height);
    return 1;
  }
  SelectObject(memory, bitmap);
  SelectObject(target, targetBitmap);
  // A full-screen layout with a gradient from dark blue at the top to black.
  std::vector<u8> layout(LayoutHeaderSize, 0);
  WriteU32(&layout[LayoutFlags], LayoutFlagFullScreen | LayoutFlagGradient);
  WriteU32(&layout[LayoutColourA], 0x00804000);
  WriteU32(&layout[LayoutColourB], 0x00000000);
  const RecordView view = {layout.data(), (u32)layout.size()};
  const RECT client = {0, 0, Width, Height};
  HBRUSH brush = CreateSolidBrush(0x00804000);

  Method methods[] = {{"FillRect (baseline)", {}, {}},
                      {"dithered gradient", {}, {}},
                      {"banded gradient", {}, {}},
                      {"whole backdrop, dithered", {}, {}}};
  const int count = sizeof methods / sizeof methods[0];
  for (int round = 0; round < rounds; ++round) {
    for (int m = 0; m < count; ++m) {
      Clock start = Now();
      for (int i = 0; i < paints; ++i) {
        switch (m) {
          case 0: FillRect(memory, &client, brush); break;
          case 1: PaintBackground(memory, view, &client, &client, 0); break;
          case 2: PaintBackground(memory, view, &client, &client, 1); break;
          case 3: DrawBackdrop(target, &client, &client, view, {nullptr, 0}, nullptr, {nullptr, 0}); break;
        }
      }
      GdiFlush();
      Clock end = Now();
      methods[m].cpu.push_back((end.cpu - start.cpu) * 1000 / paints);
      methods[m].wall.push_back((end.wall - start.wall) * 1000 / paints);
    }
  }
  printf("%d x %d, %d bits per pixel; %d rounds of %d paints; medians per paint\n", Width, Height,
         DeviceBitsPerPixel(screen), rounds, paints);
  printf("%-28s %9s %9s %9s %9s\n", "", "CPU ms", "wall ms", "CPU x", "wall x");
  const double cpuBase = Median(methods[0].cpu), wallBase = Median(methods[0].wall);
  for (const Method& m : methods)
    printf("%-28s %9.2f %9.2f %9.1f %9.1f\n", m.name, Median(m.cpu), Median(m.wall),
           cpuBase > 0 ? Median(m.cpu) / cpuBase : 0.0, Median(m.wall) / wallBase);
  printf("x: times the baseline's time in the same run\n");
  return 0;
}
