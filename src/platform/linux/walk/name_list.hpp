#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vellico::platform::walk {

// Names of one directory, packed: a type byte, the name, a NUL. About 14
// bytes a name instead of 40 for a vector of strings, which matters for a
// directory of a million entries. Names come back last in, first out.
class NameList {
public:
    void push(const char* name, unsigned char type)
    {
        m_offsets.push_back(m_blob.size());
        m_blob.push_back(static_cast<char>(type));
        m_blob.append(name);
        m_blob.push_back('\0');
    }
    bool empty() const { return m_offsets.empty(); }
    std::size_t size() const { return m_offsets.size(); }
    void pop(std::string& name, unsigned char& type)
    {
        const std::size_t offset = m_offsets.back();
        m_offsets.pop_back();
        type = static_cast<unsigned char>(m_blob[offset]);
        name.assign(m_blob.data() + offset + 1);
        m_blob.resize(offset);
        if (m_offsets.empty()) {
            clear();
        }
    }
    void clear()
    {
        std::vector<std::size_t>().swap(m_offsets);
        std::string().swap(m_blob);
    }

private:
    std::vector<std::size_t> m_offsets;
    std::string m_blob;
};

} // namespace vellico::platform::walk
