# AddressSanitizer + UndefinedBehaviorSanitizer for every target, JUCE included, so that
# memory errors anywhere in a test run are reported.
if(USB_SANITIZE)
    set(usb_sanitize_flags -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_compile_options(${usb_sanitize_flags})
    add_link_options(-fsanitize=address,undefined)
endif()
