// The 19 counter slots, listed once. Every form of the mapping is made from
// this list: the table, the forwarders, the bridges, and the counter
// server's interface in C++ and in IDL and its object. Nothing but
// preprocessor definitions lives here, since the C preprocessor also reads
// this file to write the server's IDL.
#pragma once

// The slots, in table order: X(slot, name, entry, method, parameters,
// arguments).
// - `entry` is the counter library's entry (CounterLibraryEntries) that the
//   slot reaches on the direct path.
// - `method` is the counter server's method of the same name and its
//   position in the server's virtual table, which the clients fix (IUnknown
//   and IDispatch take 0-6, and Init, which is no slot, takes 7).
//   TABLE(position) is a method that only calls the slot; OWN(position,
//   parameters...) one that does work of its own first, taking the given
//   parameters ahead of the slot's.
// - The parameters carry marks for the IDL, which C++ leaves empty: `in` or
//   `inout` says which way the proxy carries each one, and `name_size` is
//   the fixed size of the name buffer.
// Every slot is cdecl and returns a signed 32-bit result code, 0 = success.
#define KESTREL_COUNTER_SLOTS(X) KESTREL_MARKED_COUNTER_SLOTS(X, , , )
#define KESTREL_MARKED_COUNTER_SLOTS(X, in, inout, name_size)                           \
  X(0, CounterCall0, 10, TABLE(9), (in uint32_t value), (value))                         \
  X(1, RemoveAllCounters, 16, TABLE(11), (), ())                                         \
  X(2, Shutdown, 2, TABLE(8), (), ())                                                    \
  X(3, CounterCall3, 19, TABLE(13), (in uint32_t value), (value))                        \
  X(4, CounterCall4, 20, TABLE(14), (), ())                                              \
  X(5, CounterCall5, 21, TABLE(15), (in uint32_t value), (value))                        \
  X(6, CounterCall6, 22, TABLE(16), (in uint32_t value), (value))                        \
  X(7, CounterCall7, 23, TABLE(17), (in uint32_t value), (value))                        \
  X(8, CounterCall8, 24, TABLE(18), (in uint32_t value), (value))                        \
  X(9, CounterCall9, 17, TABLE(12), (in uint32_t value), (value))                        \
  X(10, CounterCall10, 27, TABLE(19),                                                    \
    (in uint32_t a, in uint32_t b, in uint32_t c, in uint32_t d), (a, b, c, d))          \
  X(11, Sample, 25, OWN(20, in uint32_t capacity),                                       \
    (inout CounterSampleRecord* samples, inout uint32_t* count), (samples, count))     \
  X(12, GetNumCounters, 4, TABLE(22), (inout uint32_t* count), (count))                 \
  X(13, GetCounterName, 5, OWN(23),                                                      \
    (in uint32_t index, inout char name[name_size], inout uint32_t* length),             \
    (index, name, length))                                                               \
  X(14, CounterCall14, 7, TABLE(24), (in uint32_t a, in uint32_t b), (a, b))             \
  X(15, GetCounterAttribute, 9, TABLE(25),                                               \
    (in uint32_t index, in uint32_t attribute, inout uint64_t* value),                   \
    (index, attribute, value))                                                           \
  X(16, GetCounterValue, 28, TABLE(26),                                                  \
    (in uint32_t index, in uint32_t object, inout uint64_t* value, inout uint64_t* cycles), \
    (index, object, value, cycles))                                                      \
  X(17, AddCounter, 11, TABLE(10), (in uint32_t index), (index))                         \
  X(18, CounterCall18, 14, TABLE(21), (in uint32_t value), (value))

// A server method's position in the virtual table.
#define KESTREL_METHOD_POSITION(method) KESTREL_POSITION_##method
#define KESTREL_POSITION_TABLE(position) position
#define KESTREL_POSITION_OWN(position, ...) position

// A server method's parameter list: its own leading ones, the slot's, then
// `result`, the pointer through which the server stores the slot's result
// code.
#define KESTREL_SERVER_PARAMETERS(method, params, result) \
  (KESTREL_LEADING_##method KESTREL_FOLLOWED params result)
#define KESTREL_LEADING_TABLE(position)
#define KESTREL_LEADING_OWN(position, ...) __VA_ARGS__ __VA_OPT__(,)
#define KESTREL_FOLLOWED(...) __VA_ARGS__ __VA_OPT__(,)

// What follows in parentheses, for a method that only calls its slot; nothing
// for one that does work of its own.
#define KESTREL_IF_TABLE(method) KESTREL_IF_TABLE_##method
#define KESTREL_IF_TABLE_TABLE(position) KESTREL_KEEP
#define KESTREL_IF_TABLE_OWN(...) KESTREL_DROP
#define KESTREL_KEEP(...) __VA_ARGS__
#define KESTREL_DROP(...)
