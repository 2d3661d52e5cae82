// Hex text for hostsim's line protocol.
#pragma once
#include <string>
#include <vector>

bool hex_decode(const std::string& text, std::vector<unsigned char>& out);
std::string hex_encode(const unsigned char* data, size_t length);
