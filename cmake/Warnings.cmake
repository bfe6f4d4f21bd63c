# Warning flags for the project's own targets. JUCE's module sources are compiled in
# targets of their own (cmake/Juce.cmake) and don't get these.
function(usb_set_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${USB_WARNINGS_AS_ERRORS}>:/WX>)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra
            $<$<BOOL:${USB_WARNINGS_AS_ERRORS}>:-Werror>)
    endif()
endfunction()
