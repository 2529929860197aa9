# The uninstaller program. Its portable part (the log and the decision list)
# goes with the portable sources: the native unit tests and the fuzz target
# build it; the setup program leaves it out (its link drops what no code of
# its own calls). The Windows part is the program itself, with the setup
# program's manifest (startup/manifest.rc: its OBJECT_DEPENDS on
# startup/setrun.manifest, set in startup/sources.cmake, holds for every
# target of this folder, so a change of the manifest rebuilds both programs).
list(APPEND SETRUN_PORTABLE_SOURCES
  uninstaller/log.cpp
  uninstaller/plan.cpp)
set(SETRUN_UNINSTALLER_SOURCES
  uninstaller/main_win.cpp
  uninstaller/removal_win.cpp
  uninstaller/resources.rc
  startup/manifest.rc)
