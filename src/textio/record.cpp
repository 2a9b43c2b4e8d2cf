#include "textio/record.hpp"

#include "textio/console.hpp"
#include "textio/real_text.hpp"

#include <cstring>

namespace textio {

void Record::put(const char* s, int len) {
    std::memcpy(line_ + used_, s, std::size_t(len));
    used_ += len;
}

void Record::blanks(int count) {
    std::memset(line_ + used_, ' ', std::size_t(count));
    used_ += count;
}

void Record::end_line() {
    if (dest_.kind == Destination::Kind::File) {
        std::string& out = *dest_.file_text;
        out.append(line_, std::size_t(used_));
        out.append("\r\n", 2);
    } else {
        Console_Line(line_, std::size_t(used_));
    }
    used_ = 0;
}

void Record::numeric(const char* digits, int len, int width) {
    int need = width + (prev_numeric_ ? 1 : 0);
    pending_ += need - len;
    if (!(budget_ > need)) {
        end_line();
        budget_ = Line_Budget;
    }
    blanks(pending_);
    put(digits, len);
    budget_ -= need;
    pending_ = 0;
    prev_numeric_ = true;
}

Record& Record::integer(std::int32_t v) {
    char buf[Integer_Width];
    int len = Integer_Text(v, buf);
    numeric(buf, len, Integer_Width);
    return *this;
}

Record& Record::real(float x) {
    char buf[Real_Width + 4];
    int len = Real_Text(x, buf);
    numeric(buf, len, Real_Width);
    return *this;
}

Record& Record::text(std::string_view s) {
    prev_numeric_ = false;
    // A text item follows the previous text directly; only the blank in
    // front of an empty line stays.
    if (pending_ != 1)
        pending_ = 0;
    while (!s.empty()) {
        int len = int(s.size());
        blanks(pending_);
        pending_ = 0;
        if (budget_ > len) {
            put(s.data(), len);
            budget_ -= len;
            return *this;
        }
        put(s.data(), budget_);
        s.remove_prefix(std::size_t(budget_));
        end_line();
        budget_ = Line_Budget;
        pending_ = 1;
    }
    return *this;
}

void Record::end() {
    blanks(pending_);
    pending_ = 0;
    end_line();
    if (dest_.kind == Destination::Kind::Console)
        Console_Flush();
}

} // namespace textio
