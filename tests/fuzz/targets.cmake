# The fuzz targets: tests/fuzz/NAME_fuzz.cpp, inputs in tests/fuzz/regressions/NAME/.
set(TRELK_FUZZ_TARGETS block_decoder catalog extract volumes)
