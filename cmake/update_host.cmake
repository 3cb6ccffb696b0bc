# The update servers' hosts as the launcher's URLs take them: "http://" + host + "/Quorvane/".

# Why value is not a host the launcher can take, into the variable named by out (empty when it is one): a host name
# or an IPv4 address, optionally followed by ":port" (1 to 65535), and nothing else: no scheme, no path, no slash.
function(update_host_problem value out)
  set(problem "")
  if(value STREQUAL "")
    set(problem "it is empty")
  elseif(value MATCHES "://")
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
  set(${out} "${problem}" PARENT_SCOPE)
endfunction()

# The launcher tries at most this many hosts for its file list: the origin and three fallbacks.
set(MAX_UPDATE_HOSTS 4)

function(fail_update_host variable value problem)
  message(FATAL_ERROR "${variable} is \"${value}\": ${problem}. Give a host name or an IPv4 address, optionally "
    "with :port, and nothing else, or up to ${MAX_UPDATE_HOSTS} of them separated by commas, the origin first; the "
    "launcher's update URL is \"http://\" + host + \"/Quorvane/\". For example "
    "-D${variable}=203.0.113.7 or -D${variable}=updates.example.com:8080")
endfunction()

# Fails the configuration, saying why and what to give, unless the variable named by variable holds one host.
function(check_update_host variable)
  update_host_problem("${${variable}}" problem)
  if(problem)
    fail_update_host(${variable} "${${variable}}" "${problem}")
  endif()
endfunction()

# Reads the variable named by variable as a list of 1 to MAX_UPDATE_HOSTS hosts, separated by ";" (a CMake list) or
# "," (easier on a shell's command line), blanks around each ignored; each must pass check_update_host, and none may
# be given twice. Fails the configuration otherwise, naming the entry (a single host is said as check_update_host
# says it). out receives the hosts as a CMake list, the origin first.
function(check_update_hosts variable out)
  string(REPLACE "," ";" entries "${${variable}}")
  # Counted by foreach, which keeps empty entries under every policy setting (a script run with cmake -P has none).
  set(given 0)
  foreach(entry IN LISTS entries)
    math(EXPR given "${given} + 1")
  endforeach()
  set(hosts "")
  set(position 0)
  foreach(entry IN LISTS entries)
    math(EXPR position "${position} + 1")
    string(STRIP "${entry}" entry)
    update_host_problem("${entry}" problem)
    list(FIND hosts "${entry}" earlier)
    if(NOT problem AND NOT earlier EQUAL -1)
      set(problem "it is given twice")
    endif()
    if(problem AND given EQUAL 1)
      fail_update_host(${variable} "${${variable}}" "${problem}")
    elseif(problem)
      fail_update_host(${variable} "${${variable}}" "host ${position} (\"${entry}\"): ${problem}")
    endif()
    list(APPEND hosts "${entry}")
  endforeach()
  list(LENGTH hosts count)
  if(count EQUAL 0)
    fail_update_host(${variable} "${${variable}}" "it names no host")
  elseif(count GREATER MAX_UPDATE_HOSTS)
    fail_update_host(${variable} "${${variable}}"
      "it names ${count} hosts, but a launcher takes at most ${MAX_UPDATE_HOSTS} (the origin and 3 fallbacks)")
  endif()
  set(${out} "${hosts}" PARENT_SCOPE)
endfunction()

# Writes a header that defines LAUNCHER_UPDATE_BASE_URLS: the hosts' base URLs as string literals separated by
# commas, the origin first, for the table of updater/net/hosts.cpp.
function(write_update_hosts_header hosts file)
  set(urls "")
  foreach(host IN LISTS hosts)
    if(urls)
      string(APPEND urls ", ")
    endif()
    string(APPEND urls "\"http://${host}/Quorvane/\"")
  endforeach()
  file(CONFIGURE OUTPUT "${file}" CONTENT
    "// Written by CMake from LAUNCHER_UPDATE_HOST: the update hosts' base URLs, the origin first.\n#define LAUNCHER_UPDATE_BASE_URLS ${urls}\n")
endfunction()
