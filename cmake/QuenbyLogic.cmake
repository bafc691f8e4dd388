# quenby_logic: the Qt-free core, listed once for the program's build and the fuzz build.
# Record logic and statistics (measure/), text rules (transmit/), the serial layer (serial/) and
# the platform calls it stands on (platform/). Nothing here includes or links Qt.
set(QUENBY_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
cmake_path(NORMAL_PATH QUENBY_ROOT)

add_library(quenby_logic STATIC
    ${QUENBY_ROOT}/measure/channel_statistics.cpp
    ${QUENBY_ROOT}/measure/chunk.cpp
    ${QUENBY_ROOT}/measure/receive_poll.cpp
    ${QUENBY_ROOT}/measure/sample_record.cpp
    ${QUENBY_ROOT}/platform/beep.cpp
    ${QUENBY_ROOT}/platform/line_pacing.cpp
    ${QUENBY_ROOT}/platform/line_speed.cpp
    ${QUENBY_ROOT}/platform/time_of_day.cpp
    ${QUENBY_ROOT}/platform/win_serial.cpp
    ${QUENBY_ROOT}/serial/port_io.cpp
    ${QUENBY_ROOT}/serial/serial_port.cpp
    ${QUENBY_ROOT}/transmit/text_file_reader.cpp
    ${QUENBY_ROOT}/transmit/text_rules.cpp)
target_include_directories(quenby_logic PUBLIC ${QUENBY_ROOT})
set_target_properties(quenby_logic PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
