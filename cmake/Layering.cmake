# The lower layers (core, net, engine) may link Qt Core and each other, never Gui or Widgets,
# so that the engine runs the same in the desktop program, the command-line front end and tests.
set(BRENLOFT_LOWER_LAYERS "" CACHE INTERNAL "")

function(brenloft_lower_layer target)
  set(BRENLOFT_LOWER_LAYERS ${BRENLOFT_LOWER_LAYERS} ${target} CACHE INTERNAL "")
endfunction()

function(brenloft_check_layering)
  foreach(target IN LISTS BRENLOFT_LOWER_LAYERS)
    get_target_property(libs ${target} LINK_LIBRARIES)
    if(NOT libs)
      continue()
    endif()
    foreach(lib IN LISTS libs)
      if(lib MATCHES "Qt6?::(Gui|Widgets|Multimedia|MultimediaWidgets)")
        message(FATAL_ERROR "${target} is a lower layer and must not link ${lib}")
      endif()
    endforeach()
  endforeach()
endfunction()
