// Event queues, the current event and event bindings.
//
// Each thread's queue is a singly linked list of EventNodes (head = oldest)
// in its EventQueueState segment; the nodes come from the thread's own
// unlocked block pool. The segment's set-up takes one block from that pool
// and never returns it, so the first chunk stays alive while the queue
// empties and refills instead of going back to the heap each time. A post
// the pool cannot supply a node for is dropped: the queue is never written
// through a missing node. Posting coalesces an exact copy of the tail event,
// so bursts of erase or move events add one node.
//
// The bindings run with the posted event made current, so a callback reads
// it through EventSource; the poster's current event is restored after.
// EventEnqueue and EventNext hold the event lock for their whole run; the
// lock is re-entrant, so a callback may post.
#include "runtime/window/event.h"

#include <stdio.h>

#include "runtime/data/keyed_map.h"
#include "runtime/data/pool.h"
#include "runtime/data/thread_data.h"
#include "runtime/process/globals.h"

KeyedMap* EventBindings;

static CRITICAL_SECTION EventLock;
static uint32_t QueueSegment;
// Set once the lock and the segment exist; until then no queue exists.
static bool QueueReady;

constexpr int32_t EVENT_BINDINGS_BUCKETS = 1024;
constexpr TypeCode EVENT_BINDINGS_TYPE = 7;
constexpr size_t EVENT_KEY_SIZE = 96;

static void EventQueueSetUp(void* segment)
{
    auto* s = static_cast<EventQueueState*>(segment);
    s->pool = PoolCreate(sizeof(EventNode), 16, 256, POOL_UNLOCKED);
    if (s->pool)
        PoolAlloc(s->pool);  // kept out for the thread's life (see above)
    s->currentType = -1;
}

static void EventQueueCleanUp(void* segment)
{
    auto* s = static_cast<EventQueueState*>(segment);
    PoolRelease(s->pool);
    s->pool = nullptr;
    s->head = s->tail = nullptr;
}

void EventServiceInit()
{
    InitializeCriticalSection(&EventLock);
    PostEventWindowCreate();
    MessageFilterInstall();
    QueueSegment = ThreadDataRegister(sizeof(EventQueueState), EventQueueSetUp, EventQueueCleanUp);
    QueueReady = true;
    MapCreate(sizeof(EventBinding), EVENT_BINDINGS_TYPE, nullptr, &EventBindings,
              EVENT_BINDINGS_BUCKETS);
}

void EventServiceEnd()
{
    PostEventWindowDestroy();
    MessageFilterRemove();
}

EventQueueState* EventQueueGet()
{
    if (!QueueReady)
        return nullptr;
    return static_cast<EventQueueState*>(ThreadDataGet(QueueSegment));
}

void EventLockEnter() { EnterCriticalSection(&EventLock); }
void EventLockLeave() { LeaveCriticalSection(&EventLock); }

// Issued numbers are addresses; the port prints them in full.
static void EventKeyFormat(char* key, int32_t code, ObjectNumber window, ObjectNumber object,
                           int32_t type)
{
#if RUNTIME_PE32
    sprintf(key, "%d:%d:%d:%d", code, (int)window, (int)object, type);
#else
    sprintf(key, "%d:%lld:%lld:%d", code, (long long)window, (long long)object, type);
#endif
}

static void EventBindingRun(int32_t code, ObjectNumber window, ObjectNumber object, int32_t type)
{
    char key[EVENT_KEY_SIZE];
    EventKeyFormat(key, code, window, object, type);
    auto* binding = static_cast<EventBinding*>(MapFind(EventBindings, key));
    if (!binding)
        return;
    for (EventBindingEntry* entry = binding->callbacks; entry;) {
        EventBindingEntry* next = entry->next;
        if (entry->callback)
            entry->callback();
        entry = next;
    }
}

void EventBindingsRun(int32_t code, ObjectNumber window, ObjectNumber object, int32_t type)
{
    // Five key texts and lookups per post are most of a post's cost; with no
    // binding at all none of them can find anything.
    if (!EventBindings || EventBindings->count == 0)
        return;
    EventLockEnter();
    EventBindingRun(code, window, object, type);
    EventBindingRun(code, window, object, -1);
    EventBindingRun(code, window, -1, -1);
    EventBindingRun(code, -1, -1, -1);
    EventBindingRun(code, -1, object, type);
    EventLockLeave();
}

int32_t EventPost(int32_t code, ObjectNumber object, ObjectNumber window, int32_t type)
{
    return EventEnqueue(code, object, window, type, nullptr, nullptr, 0);
}

static bool EventIsTailCopy(const EventQueueState* s, int32_t code, ObjectNumber object,
                            ObjectNumber window, int32_t type, int32_t flags)
{
    const EventNode* tail = s->tail;
    return tail && code < EVENT_COALESCE_LIMIT && !(flags & EVENT_DEFER_BINDINGS) &&
           tail->code == code && tail->object == object && tail->window == window &&
           tail->type == type;
}

int32_t EventEnqueue(int32_t code, ObjectNumber object, ObjectNumber window, int32_t type,
                     void* data, EventDataRelease dataRelease, int32_t flags)
{
    EventQueueState* s = EventQueueGet();
    if (!s)
        return 0;
    int32_t queued = 0;
    EventLockEnter();
    if (!s->suppressed || (flags & EVENT_FORCE)) {
        if (EventIsTailCopy(s, code, object, window, type, flags)) {
            queued = 1;
        } else if (auto* node = static_cast<EventNode*>(s->pool ? PoolAlloc(s->pool) : nullptr)) {
            node->next = nullptr;
            node->code = code;
            node->flags = flags;
            node->object = object;
            node->window = window;
            node->type = type;
            node->data = data;
            node->dataRelease = dataRelease;
            if (s->tail)
                s->tail->next = node;
            else
                s->head = node;
            s->tail = node;
            queued = 1;
        }
        if (!(flags & EVENT_DEFER_BINDINGS)) {
            EventQueueState saved = *s;
            s->currentCode = code;
            s->currentWindow = window;
            s->currentObject = object;
            s->currentType = type;
            s->currentData = data;
            s->currentDataRelease = dataRelease;
            EventBindingsRun(code, window, object, type);
            s->currentCode = saved.currentCode;
            s->currentWindow = saved.currentWindow;
            s->currentObject = saved.currentObject;
            s->currentType = saved.currentType;
            s->currentData = saved.currentData;
            s->currentDataRelease = saved.currentDataRelease;
        }
    }
    EventLockLeave();
    return queued;
}

int32_t EventNext()
{
    EventQueueState* s = EventQueueGet();
    if (!s)
        return 0;
    s->currentCode = 0;
    EventLockEnter();
    if (s->currentData && s->currentDataRelease) {
        s->currentDataRelease(s->currentData);
        s->currentData = nullptr;
        s->currentDataRelease = nullptr;
    }
    s->currentType = -1;
    if (EventNode* node = s->head) {
        s->currentCode = node->code;
        s->currentObject = node->object;
        s->currentWindow = node->window;
        s->currentType = node->type;
        s->currentData = node->data;
        s->currentDataRelease = node->dataRelease;
        s->head = node->next;
        if (!s->head)
            s->tail = nullptr;
        int32_t flags = node->flags;
        PoolFree(s->pool, node);
        if (flags & EVENT_DEFER_BINDINGS)
            EventBindingsRun(s->currentCode, s->currentWindow, s->currentObject, s->currentType);
    }
    int32_t code = s->currentCode;
    EventLockLeave();
    return code;
}

ObjectNumber EventSource()
{
    EventQueueState* s = EventQueueGet();
    return s ? s->currentObject : 0;
}

// Unlinks every node for which matches() holds; head and tail end up on the
// first and last remaining nodes.
template <typename Match>
static void EventQueueDrop(EventQueueState* s, Match matches)
{
    EventNode* last = nullptr;
    for (EventNode** link = &s->head; *link;) {
        EventNode* node = *link;
        if (matches(node)) {
            *link = node->next;
            PoolFree(s->pool, node);
        } else {
            last = node;
            link = &node->next;
        }
    }
    s->tail = last;
}

void EventPurge(int32_t code, ObjectNumber object, ObjectNumber window, int32_t type)
{
    EventQueueState* s = EventQueueGet();
    if (!s)
        return;
    EventQueueDrop(s, [=](const EventNode* node) {
        return (code == -1 || node->code == code) && (object == -1 || node->object == object) &&
               (window == -1 || node->window == window) && (type == -1 || node->type == type);
    });
}

// Exact: the events of window -1 (posted before a window had its number)
// are not those of every window.
void EventPurgeWindow(ObjectNumber window)
{
    EventQueueState* s = EventQueueGet();
    if (!s)
        return;
    EventQueueDrop(s, [=](const EventNode* node) { return node->window == window; });
}

static void EventBindingFree(EventBinding* binding)
{
    for (EventBindingEntry* entry = binding->callbacks; entry;) {
        EventBindingEntry* next = entry->next;
        MainHeapFree(entry);
        entry = next;
    }
    binding->callbacks = nullptr;
}

void EventBindingsPurgeWindow(ObjectNumber window)
{
    if (!EventBindings)
        return;
    MapResetCursor(EventBindings);
    // MapDeleteCurrent steps the cursor back, so the walk goes on with the
    // element after the deleted one.
    while (auto* binding = static_cast<EventBinding*>(MapNextElement(EventBindings))) {
        if (binding->window == window) {
            EventBindingFree(binding);
            MapDeleteCurrent(EventBindings);
        }
    }
}

int32_t EventBind(int32_t code, ObjectNumber window, ObjectNumber object, int32_t type,
                  EventBindingCallback callback)
{
    if (!EventBindings || !callback)
        return 0;
    auto* entry = static_cast<EventBindingEntry*>(MainHeapAlloc(sizeof(EventBindingEntry)));
    if (!entry)
        return 0;
    entry->callback = callback;
    char key[EVENT_KEY_SIZE];
    EventKeyFormat(key, code, window, object, type);
    auto* binding = static_cast<EventBinding*>(MapFind(EventBindings, key));
    if (!binding) {
        binding = static_cast<EventBinding*>(MapAdd(EventBindings, key));
        if (!binding) {
            MainHeapFree(entry);
            return 0;
        }
    }
    binding->window = window;
    EventBindingEntry** link = &binding->callbacks;
    while (*link)
        link = &(*link)->next;
    *link = entry;
    return 1;
}
