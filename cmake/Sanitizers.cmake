# KRV_SANITIZE=address   AddressSanitizer with UndefinedBehaviorSanitizer
# KRV_SANITIZE=thread    ThreadSanitizer
set(KRV_SANITIZE "" CACHE STRING "Sanitizer build: address or thread (empty for none)")

if(KRV_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(KRV_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT KRV_SANITIZE STREQUAL "")
    message(FATAL_ERROR "KRV_SANITIZE must be empty, address or thread")
endif()
