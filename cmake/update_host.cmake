# The update server's host as the launcher's URL takes it: "http://" + host + "/Quorvane/".

# Fails the configuration, saying why and what to give, unless the variable named by variable holds a host name or
# an IPv4 address, optionally followed by ":port" (1 to 65535), and nothing else: no scheme, no path, no slash.
function(check_update_host variable)
  set(value "${${variable}}")
  set(problem "")
  if(value MATCHES "://")
    set(problem "it holds a scheme, which the launcher adds itself")
  elseif(value MATCHES "/")
    set(problem "it holds a slash; the launcher adds the path /Quorvane/ itself")
  elseif(NOT value MATCHES "^([^:]+)(:([0-9]+))?$")
    set(problem "it is not HOST or HOST:PORT")
  else()
    set(host "${CMAKE_MATCH_1}")
    set(port "${CMAKE_MATCH_3}")
    if(NOT port STREQUAL "" AND (port GREATER 65535 OR port LESS 1))
      set(problem "the port ${port} is not from 1 to 65535")
    elseif(host MATCHES "^[0-9.]+$")
      # Only digits and dots: an IPv4 address, four numbers up to 255.
      if(NOT host MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
        set(problem "${host} is not an IPv4 address of four numbers")
      endif()
      foreach(number IN ITEMS "${CMAKE_MATCH_1}" "${CMAKE_MATCH_2}" "${CMAKE_MATCH_3}" "${CMAKE_MATCH_4}")
        if(NOT problem AND number GREATER 255)
          set(problem "${host} is not an IPv4 address: ${number} is above 255")
        endif()
      endforeach()
    elseif(NOT host MATCHES "^[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?)*$")
      set(problem "${host} is not a host name (letters, digits and hyphens in dot-separated labels)")
    endif()
  endif()
  if(problem)
    message(FATAL_ERROR "${variable} is \"${value}\": ${problem}. Give a host name or an IPv4 address, optionally "
      "with :port, and nothing else; the launcher's update URL is \"http://\" + host + \"/Quorvane/\". For example "
      "-D${variable}=203.0.113.7 or -D${variable}=updates.example.com:8080")
  endif()
endfunction()
