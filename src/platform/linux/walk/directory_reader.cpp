#include "platform/tree_walker.hpp"

#include <dirent.h>

#include <cerrno>

namespace vellico::platform {

bool DirectoryReader::next(const char*& name, unsigned char& type)
{
    for (;;) {
        if (m_offset >= m_used) {
            if (m_done) {
                return false;
            }
            const long n = m_calls.getdents64(m_fd, m_buffer, m_size);
            if (n <= 0) {
                m_error = n < 0 ? errno : 0;
                m_done = true;
                return false;
            }
            m_used = n;
            m_offset = 0;
        }
        const auto* record = reinterpret_cast<const struct dirent64*>(m_buffer + m_offset);
        m_offset += record->d_reclen;
        const char* n = record->d_name;
        if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) {
            continue;
        }
        name = n;
        type = record->d_type;
        return true;
    }
}

} // namespace vellico::platform
