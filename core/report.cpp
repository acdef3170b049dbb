// Outcome reporting.
//
// What counts as news is decided here: mail is announced when the count or
// the size differs from what was announced last. A connection test shows
// its outcome but never announces, and leaves the announced figures alone.
#include "core/report.h"

#include <inttypes.h>
#include <stdio.h>

#include "core/busy.h"
#include "core/controller.h"
#include "core/env.h"
#include "core/sound.h"
#include "core/text.h"
#include "pop3/session.h"
#include "pop3/top.h"
#include "settings/settings.h"
#include "tray/popup.h"
#include "tray/tray.h"
#include "ui/session_log.h"

static const int64_t KIB = 1024;
static const int64_t MIB = 1024 * 1024;

// Any remainder counts as a whole unit, so 2049 bytes read as 3K.
static void format_size(char* out, size_t capacity, int64_t size)
{
    if (size < 2 * KIB)
        snprintf(out, capacity, " (%" PRId64 " バイト)", size);
    else if (size < 2 * MIB)
        snprintf(out, capacity, " (%" PRId64 "Kバイト)", size / KIB + (size % KIB != 0));
    else
        snprintf(out, capacity, " (%" PRId64 "Mバイト)", size / MIB + (size % MIB != 0));
}

void format_outcome(char* out, size_t capacity, int32_t count, int64_t size)
{
    if (count == 0) {
        snprintf(out, capacity, "%s", "新着メールはありません");
        return;
    }
    char suffix[100];
    format_size(suffix, sizeof suffix, size);
    snprintf(out, capacity, "%d 通のメール%s", (int)count, suffix);
}

// "sender  subject"; either alone when the other is empty.
static void format_headline(char* out, size_t capacity, const HeaderSummary* summary)
{
    const char* gap = summary->sender[0] != '\0' && summary->subject[0] != '\0' ? "  " : "";
    snprintf(out, capacity, "%s%s%s", summary->sender, gap, summary->subject);
}

void format_popup_mail(PopupMail* mail)
{
    mail->count = top_series.read < POPUP_MAIL_LINES ? top_series.read : POPUP_MAIL_LINES;
    for (int32_t i = 0; i < mail->count; i++)
        format_headline(mail->lines[i], sizeof mail->lines[i], &top_series.summaries[i]);
    mail->rest[0] = '\0';
    if (mail->count > 0 && top_series.new_count > mail->count)
        snprintf(mail->rest, sizeof mail->rest, "ほか %d 通", (int)(top_series.new_count - mail->count));
}

// What the popup of the last announcement shows, kept while it is held back.
static bool announcement_held;
static char announced_text[OUTCOME_TEXT_CAPACITY];
static PopupMail announced_mail;

static bool sound_wanted(void)
{
    return settings.USE_SOUND && settings.SOUND_FILE[0] != '\0';
}

static void play_sound(void)
{
    char file[PATH_CAPACITY];
    env_expand(settings.SOUND_FILE, file, sizeof file);
    sound_play(file);
}

static void announce(const char* text)
{
    controller.popup_close_pending = true;
    tray_set_icon(ARRIVE_ICON);
    controller.blinking = true;
    text_copy(announced_text, sizeof announced_text, text);
    format_popup_mail(&announced_mail);
    // The shell is asked only when there is something to hold back.
    announcement_held = (settings.USE_POPUPDLG || sound_wanted()) && user_is_busy();
    if (!announcement_held && settings.USE_POPUPDLG)
        popup_show("新着メールがあります。", announced_text, &announced_mail);
    if (settings.USE_BALOON) {
        char headline[POPUP_LINE_CAPACITY] = "";
        if (top_series.read > 0)
            format_headline(headline, sizeof headline, &top_series.summaries[0]);
        tray_balloon(text, headline);
    }
    if (!announcement_held && sound_wanted())
        play_sound();
}

// Only the blinking tick calls this, so a wait costs no wake-up of its own,
// and mail taken note of in the meantime (no more blinking) is never shown
// late; the next announcement starts afresh.
HeldAnnouncement release_held_announcement(void)
{
    if (!announcement_held)
        return NOTHING_HELD;
    if (user_is_busy())
        return STILL_HELD;
    announcement_held = false;
    if (settings.USE_POPUPDLG)
        popup_show("新着メールがあります。", announced_text, &announced_mail);
    if (sound_wanted())
        play_sound();
    return RELEASED;
}

void report_outcome(void)
{
    char text[OUTCOME_TEXT_CAPACITY] = "";
    if (session.error_kind != ERROR_NONE) {
        // Whoever failed the session has written to the log already; a
        // failure announces nothing, so the outcome text is not needed.
        tray_set_tip(session.error_text);
        tray_set_icon(ERROR_ICON);
    } else {
        format_outcome(text, sizeof text, session.message_count, session.total_size);
        tray_set_tip(text);
        log_append(text);
        if (session.message_count == 0) {
            popup_hide();
            controller.popup_close_pending = false;
            show_resting_icon();
            controller.blinking = false;
        } else {
            tray_set_icon(ARRIVE_ICON);
        }
    }

    if (controller.state == SettingsOpen || controller.state == Testing)
        return;

    if (session.error_kind == ERROR_NONE && session.message_count > 0 &&
        (session.message_count != controller.notified_count ||
         session.total_size != controller.notified_size))
        announce(text);
    controller.notified_count = session.message_count;
    controller.notified_size = session.total_size;
}
