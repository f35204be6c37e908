# KRV_SANITIZE=address   AddressSanitizer with UndefinedBehaviorSanitizer
# KRV_SANITIZE=thread    ThreadSanitizer
# KRV_SANITIZE=fuzzer    coverage for the libFuzzer targets (clang)
set(KRV_SANITIZE "" CACHE STRING "Sanitizer build: address, thread or fuzzer (empty for none)")

if(KRV_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(KRV_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(KRV_SANITIZE STREQUAL "fuzzer")
    # Coverage for libFuzzer everywhere; the fuzz targets add the fuzzer's own main.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(NOT KRV_SANITIZE STREQUAL "")
    message(FATAL_ERROR "KRV_SANITIZE must be empty, address, thread or fuzzer")
endif()
