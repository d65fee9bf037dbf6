# Remote control of other players, pelbrisk's own MPRIS player and the lyrics look-up: units the
# main window calls, kept in a library of their own so that they are built and tested apart. The
# file path type is here too: MPRIS hands files over by address.
find_package(Qt6 REQUIRED COMPONENTS Widgets DBus)

set(PELBRISK_REMOTE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/FilePath.cpp
    ${CMAKE_CURRENT_LIST_DIR}/GetLyrics.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MprisClient.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MprisService.cpp
    ${CMAKE_CURRENT_LIST_DIR}/OtherAppCtrl.cpp)
add_library(pelbrisk_remote STATIC ${PELBRISK_REMOTE_SOURCES})
set_target_properties(pelbrisk_remote PROPERTIES AUTOMOC ON)
target_link_libraries(pelbrisk_remote PUBLIC Qt6::Widgets Qt6::DBus pelbrisk_desktop)

# The window's library collects app/*.cpp; these belong to pelbrisk_remote instead.
if(DEFINED APP_SOURCES)
    list(REMOVE_ITEM APP_SOURCES ${PELBRISK_REMOTE_SOURCES})
endif()
