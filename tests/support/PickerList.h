// File lists in the shape the Win32 open dialog returns them (see
// app/win32/FileList.h), for the tests of what takes them.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

// A list of exactly one full path.
inline std::string PickerList(std::string_view fullPath) {
    std::string list(fullPath);
    list.append(2, '\0');
    return list;
}

// A folder and bare names in it.
inline std::string PickerList(std::string_view folder, std::span<const std::string> names) {
    std::string list(folder);
    list.push_back('\0');
    for (const std::string& name : names) {
        list.append(name);
        list.push_back('\0');
    }
    list.push_back('\0');
    return list;
}
inline std::string PickerList(std::string_view folder, std::initializer_list<std::string> names) {
    return PickerList(folder, std::span<const std::string>(names.begin(), names.size()));
}
