// Building TSPL jobs by hand for the viewer's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline std::vector<std::uint8_t> bytes(const std::string &s) {
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

// A BITMAP command with its payload and terminator.
inline std::string bitmap(int x, int y, int widthBytes, int height, const std::string &payload,
                          int mode = 0) {
    return "BITMAP " + std::to_string(x) + "," + std::to_string(y) + "," +
           std::to_string(widthBytes) + "," + std::to_string(height) + "," + std::to_string(mode) +
           "," + payload + "\r\n";
}

inline std::string print(int copies) {
    return "PRINT 1," + std::to_string(copies) + "\r\n";
}
