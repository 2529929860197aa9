list(APPEND SETRUN_PORTABLE_SOURCES
  wizard/markup.cpp
  wizard/questions.cpp)
list(APPEND SETRUN_WINDOWS_SOURCES
  wizard/formatted_text_win.cpp
  wizard/frame_win.cpp
  wizard/messages_win.cpp
  wizard/pages_win.cpp
  wizard/pane_painting_win.cpp)
