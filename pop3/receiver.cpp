// The response receiver.
//
// A line ends only at CR LF; a bare LF or CR is an ordinary byte. Replies
// outside the two listings are logged as received and must begin "+OK"
// exactly; a negative reply ends the check with the server's own line as the
// reason, except a refused STLS, which has a text of its own. When the
// conversation sends a command, the rest of the chunk is dropped: a
// conforming server says nothing more until it has the command.
//
// A header read with TOP is the server's message, not a reply: a line too
// long for the buffer keeps its start and drops the rest, and a refused TOP
// goes to the conversation, which ends the series, not the check; so does a
// refused CAPA, which only means the TOPs are sent one at a time. CAPA's
// lines are the conversation's to log.
#include "pop3/receiver.h"

#include "core/text.h"
#include "pop3/finder.h"
#include "pop3/session.h"
#include "ui/session_log.h"

char line_buffer[LINE_BUFFER_SIZE];
int32_t line_length;
bool line_dropping;
static char dropped_last; // the last byte dropped: a CR may begin the line end

static bool in_listing(void)
{
    return pop_state == POP_UIDL_LIST || pop_state == POP_LIST_LIST || pop_state == POP_TOP_LIST ||
           pop_state == POP_CAPA_LIST;
}

int pop_receive(const char* data, int length)
{
    for (int i = 0; i < length; i++) {
        if (line_length >= RECEIVE_LINE_MAX && pop_state == POP_TOP_LIST) {
            dropped_last = line_buffer[line_length - 1]; // before the conversation ends the line
            pop_handle_cut_line(line_length);
            line_length = 0;
            line_dropping = true;
        }
        if (line_dropping) {
            line_dropping = !(data[i] == '\n' && dropped_last == '\r');
            dropped_last = data[i];
            continue;
        }
        if (line_length >= RECEIVE_LINE_MAX) {
            session.error_kind = ERROR_FAILED;
            text_copy(session.error_text, sizeof session.error_text, "受信バッファオーバーフロー");
            return -1;
        }
        char byte = data[i];
        line_buffer[line_length++] = byte;
        if (byte != '\n' || line_length < 2 || line_buffer[line_length - 2] != '\r')
            continue;

        int complete = line_length;
        line_buffer[complete] = '\0';
        line_length = 0;

        // A search for the server's settings judges its replies itself.
        if (pop_conversation == CONVERSATION_FIND) {
            if (find_handle_line(line_buffer) == POP_STOP)
                return 0;
            continue;
        }
        if (!in_listing()) {
            log_append(line_buffer);
            bool positive = line_buffer[0] == '+' && line_buffer[1] == 'O' && line_buffer[2] == 'K';
            if (!positive && pop_state != POP_TOP_SENT && pop_state != POP_CAPA_SENT) {
                session.error_kind = ERROR_FAILED;
                if (pop_state == POP_STLS_SENT)
                    set_error_text(STLS_REFUSED_TEXT);
                else
                    text_copy(session.error_text, sizeof session.error_text, line_buffer);
                return -1;
            }
        }
        if (pop_handle_line(complete) == POP_STOP) {
            line_length = 0;
            return 0;
        }
    }
    return 0;
}
