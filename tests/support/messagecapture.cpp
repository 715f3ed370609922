// SPDX-License-Identifier: MIT
#include "messagecapture.h"

#include <mutex>

namespace TestSupport {

namespace {

// A standard mutex rather than QMutex, so that a race checker sees the hand-over between the
// threads that log and the test that reads.
std::mutex g_mutex;
std::vector<CapturedMessage> g_messages;
// Messages before this index have had their warnings taken.
size_t g_taken = 0;

} // namespace

MessageCapture::MessageCapture()
{
    clear();
    m_previous = qInstallMessageHandler(&MessageCapture::handler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(m_previous);
}

void MessageCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_messages.push_back(
        {type, text, context.file != nullptr, context.line, context.function != nullptr});
}

void MessageCapture::clear()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_messages.clear();
    g_taken = 0;
}

std::vector<CapturedMessage> MessageCapture::recorded()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_messages;
}

std::vector<CapturedMessage> MessageCapture::messages() const
{
    return recorded();
}

QStringList MessageCapture::texts() const
{
    QStringList result;
    for (const CapturedMessage &message : messages())
        result << message.text;
    return result;
}

bool MessageCapture::contains(const QString &text) const
{
    return texts().contains(text);
}

QStringList MessageCapture::warnings() const
{
    QStringList result;
    for (const CapturedMessage &message : messages()) {
        if (message.type == QtWarningMsg)
            result << message.text;
    }
    return result;
}

QStringList MessageCapture::takeWarnings()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    QStringList result;
    for (size_t i = g_taken; i < g_messages.size(); ++i) {
        if (g_messages[i].type == QtWarningMsg)
            result << g_messages[i].text;
    }
    g_taken = g_messages.size();
    return result;
}

int MessageCapture::messagesWithLocation() const
{
    int count = 0;
    for (const CapturedMessage &message : messages()) {
        if (message.hasLocation || message.line != 0 || message.hasFunction)
            ++count;
    }
    return count;
}

} // namespace TestSupport
