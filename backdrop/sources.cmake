# The backdrop window and the painting it shares with the wizard's panes.
list(APPEND SETRUN_PORTABLE_SOURCES
  backdrop/gradient.cpp)
list(APPEND SETRUN_WINDOWS_SOURCES
  backdrop/backdrop_win.cpp
  backdrop/painting_win.cpp)
