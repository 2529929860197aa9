# Whole-tree checks run by the native ctest.

# No source includes a header from a higher layer (README: how the parts fit).
add_test(NAME e2e.layers COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/check-layers.sh ${CMAKE_SOURCE_DIR})
