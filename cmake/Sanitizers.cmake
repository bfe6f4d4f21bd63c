# Sanitizers for every target, JUCE included, so that errors anywhere in a test run are
# reported. USB_SANITIZE chooses them:
#   OFF       none
#   address   AddressSanitizer + UndefinedBehaviorSanitizer (ON means the same)
#   thread    ThreadSanitizer
set(USB_SANITIZE_CHOICES OFF address thread)
set_property(CACHE USB_SANITIZE PROPERTY STRINGS ${USB_SANITIZE_CHOICES})

string(TOLOWER "${USB_SANITIZE}" usb_sanitize)

if(usb_sanitize MATCHES "^(on|true|yes|1)$")
    set(usb_sanitize address)
elseif(usb_sanitize MATCHES "^(off|false|no|0|)$")
    set(usb_sanitize off)
endif()

if(usb_sanitize STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(usb_sanitize STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT usb_sanitize STREQUAL "off")
    message(FATAL_ERROR "USB_SANITIZE must be OFF, address (or ON) or thread, not '${USB_SANITIZE}'")
endif()
