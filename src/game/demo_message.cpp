#include "game/demo_message.h"

#include <array>
#include <vector>

namespace vexo {

namespace {

// How often each byte value came up in the messages the code was made from. The engine
// builds its code by feeding each value that many times, in order of value, to an adaptive
// Huffman coder; the tree that comes out is the fixed code of every message.
constexpr std::array<int, 256> kByteCounts = {
    250315, 41193, 6292,  7106,  3730,  3750, 6110,  23283, 33317, 6950, 7838, 9714, 9257, 17259,
    3949,   1778,  8288,  1604,  1590,  1663, 1100,  1213,  1238,  1134, 1749, 1059, 1246, 1149,
    1273,   4486,  2805,  3472,  21819, 1159, 1670,  1066,  1043,  1012, 1053, 1070, 1726, 888,
    1180,   850,   960,   780,   1752,  3296, 10630, 4514,  5881,  2685, 4650, 3837, 2093, 1867,
    2584,   1949,  1972,  940,   1134,  1788, 1670,  1206,  5719,  6128, 7222, 6654, 3710, 3795,
    1492,   1524,  2215,  1140,  1355,  971,  2180,  1248,  1328,  1195, 1770, 1078, 1264, 1266,
    1168,   965,   1155,  1186,  1347,  1228, 1529,  1600,  2617,  2048, 2546, 3275, 2410, 3585,
    2504,   2800,  2675,  6146,  3663,  2840, 14253, 3164,  2221,  1687, 3208, 2739, 3512, 4796,
    4091,   3515,  5288,  4016,  7937,  6031, 5360,  3924,  4892,  3743, 4566, 4807, 5852, 6400,
    6225,   8291,  23243, 7838,  7073,  8935, 5437,  4483,  3641,  5256, 5312, 5328, 5370, 3492,
    2458,   1694,  1821,  2121,  1916,  1149, 1516,  1367,  1236,  1029, 1258, 1104, 1245, 1006,
    1149,   1025,  1241,  952,   1287,  997,  1713,  1009,  1187,  879,  1099, 929,  1078, 951,
    1656,   930,   1153,  1030,  1262,  1062, 1214,  1060,  1621,  930,  1106, 912,  1034, 892,
    1158,   990,   1175,  850,   1121,  903,  1087,  920,   1144,  1056, 3462, 2240, 4397, 12136,
    7758,   1345,  1307,  3278,  1950,  886,  1023,  1112,  1077,  1042, 1061, 1071, 1484, 1001,
    1096,   915,   1052,  995,   1070,  876,  1111,  851,   1059,  805,  1112, 923,  1103, 817,
    1899,   1872,  976,   841,   1127,  956,  1159,  950,   7791,  954,  1289, 933,  1127, 3207,
    1020,   927,   1355,  768,   1040,  745,  952,   805,   1073,  740,  1013, 805,  1008, 796,
    996,    1057,  11457, 13504,
};

constexpr int kNone = -1;
constexpr int kUnsent = 256;   // the leaf of values not yet seen, which has no weight
constexpr int kInternal = 257; // not a leaf

// The adaptive coder's tree, whose nodes also form a list ordered by weight (their rank).
// The nodes of one weight form a block; each node names its block's first node through a
// slot that the nodes of the block share, so that moving the block's head is one write.
// Every step is the engine's own, down to the choice of the node swapped when weights tie,
// so that the same counts give the same tree.
class AdaptiveTree {
public:
    AdaptiveTree() {
        nodes_.reserve(3 * 256);
        symbolNode_.fill(kNone);
        root_ = unsent_ = symbolNode_[kUnsent] = NewNode(kUnsent, 0);
    }

    void Add(int value) {
        if (symbolNode_[value] != kNone) {
            Increment(symbolNode_[value]);
            return;
        }
        // A new value: the unsent leaf becomes an inner node's left child, the value's leaf
        // its right one, and both go to the front of the list, behind the unsent leaf.
        const int inner = NewNode(kInternal, 1);
        const int leaf = NewNode(value, 1);
        Push(inner, inner);
        // A leaf joins a block of weight 1 (the inner node's); the other case cannot happen,
        // and names the inner node as the engine does.
        Push(leaf, inner);
        Node& unsent = nodes_[unsent_];
        if (unsent.parent == kNone)
            root_ = inner;
        else if (nodes_[unsent.parent].left == unsent_)
            nodes_[unsent.parent].left = inner;
        else
            nodes_[unsent.parent].right = inner;
        nodes_[inner].right = leaf;
        nodes_[inner].left = unsent_;
        nodes_[inner].parent = unsent.parent;
        unsent.parent = nodes_[leaf].parent = inner;
        symbolNode_[value] = leaf;
        Increment(nodes_[inner].parent);
    }

    struct Node {
        int left = kNone, right = kNone, parent = kNone;
        int next = kNone, prev = kNone; // the neighbours in the list
        int head = kNone;               // the slot that names the first node of its block
        int weight = 0;
        int symbol = kInternal;
    };
    const std::vector<Node>& Nodes() const { return nodes_; }
    int Root() const { return root_; }

private:
    int NewNode(int symbol, int weight) {
        Node node;
        node.symbol = symbol;
        node.weight = weight;
        nodes_.push_back(node);
        return static_cast<int>(nodes_.size()) - 1;
    }
    // A slot, reused from those given back when there is one.
    int NewSlot() {
        if (freeSlot_ == kNone) {
            slots_.push_back(kNone);
            return static_cast<int>(slots_.size()) - 1;
        }
        const int slot = freeSlot_;
        freeSlot_ = slots_[slot];
        return slot;
    }
    void FreeSlot(int slot) {
        slots_[slot] = freeSlot_;
        freeSlot_ = slot;
    }

    // Puts node n of weight 1 just behind the unsent leaf; its block's slot is that of the
    // node that followed when that one weighs 1 too, else a new one naming `named`.
    void Push(int n, int named) {
        Node& unsent = nodes_[unsent_];
        Node& node = nodes_[n];
        node.next = unsent.next;
        if (unsent.next != kNone && nodes_[unsent.next].weight == 1) {
            node.head = nodes_[unsent.next].head;
        } else {
            node.head = NewSlot();
            slots_[node.head] = unsent.next == kNone ? n : named;
        }
        if (unsent.next != kNone)
            nodes_[unsent.next].prev = n;
        unsent.next = n;
        node.prev = unsent_;
    }

    // Swaps two nodes' places in the tree.
    void Swap(int a, int b) {
        const int parentA = nodes_[a].parent, parentB = nodes_[b].parent;
        if (parentA == kNone)
            root_ = b;
        else if (nodes_[parentA].left == a)
            nodes_[parentA].left = b;
        else
            nodes_[parentA].right = b;
        if (parentB == kNone)
            root_ = a;
        else if (nodes_[parentB].left == b)
            nodes_[parentB].left = a;
        else
            nodes_[parentB].right = a;
        nodes_[a].parent = parentB;
        nodes_[b].parent = parentA;
    }

    // Swaps two nodes' places in the list (their ranks).
    void SwapList(int a, int b) {
        Node& na = nodes_[a];
        Node& nb = nodes_[b];
        std::swap(na.next, nb.next);
        std::swap(na.prev, nb.prev);
        if (na.next == a)
            na.next = b;
        if (nb.next == b)
            nb.next = a;
        if (na.next != kNone)
            nodes_[na.next].prev = a;
        if (nb.next != kNone)
            nodes_[nb.next].prev = b;
        if (na.prev != kNone)
            nodes_[na.prev].next = a;
        if (nb.prev != kNone)
            nodes_[nb.prev].next = b;
    }

    // Adds one to a node's weight and to its ancestors', first moving it to the head of its
    // block so that the list stays ordered by weight.
    void Increment(int n) {
        if (n == kNone)
            return;
        Node& node = nodes_[n];
        if (node.next != kNone && nodes_[node.next].weight == node.weight) {
            const int head = slots_[node.head];
            if (head != node.parent)
                Swap(head, n);
            SwapList(head, n);
        }
        if (node.prev != kNone && nodes_[node.prev].weight == node.weight) {
            slots_[node.head] = node.prev;
        } else {
            slots_[node.head] = kNone;
            FreeSlot(node.head);
        }
        ++node.weight;
        if (node.next != kNone && nodes_[node.next].weight == node.weight) {
            node.head = nodes_[node.next].head;
        } else {
            node.head = NewSlot();
            slots_[node.head] = n;
        }
        if (node.parent != kNone) {
            Increment(node.parent);
            if (node.prev == node.parent) {
                SwapList(n, node.parent);
                if (slots_[node.head] == n)
                    slots_[node.head] = node.parent;
            }
        }
    }

    std::vector<Node> nodes_;
    std::vector<int> slots_; // a node, or in a free slot the next free one
    int freeSlot_ = kNone;
    int root_ = kNone;
    int unsent_ = kNone;
    std::array<int, 257> symbolNode_{};
};

// The code's tree as decoding walks it: the children of each inner node, the value of each
// leaf.
struct DecodeTree {
    struct Node {
        int child[2] = {kNone, kNone};
        int symbol = kInternal;
    };
    std::vector<Node> nodes;
    int root = kNone;
};

const DecodeTree& MessageCode() {
    static const DecodeTree code = [] {
        AdaptiveTree tree;
        for (int value = 0; value < 256; ++value)
            for (int i = 0; i < kByteCounts[static_cast<size_t>(value)]; ++i)
                tree.Add(value);
        DecodeTree decode;
        for (const AdaptiveTree::Node& n : tree.Nodes()) {
            DecodeTree::Node& d = decode.nodes.emplace_back();
            d.child[0] = n.left;
            d.child[1] = n.right;
            d.symbol = n.symbol;
        }
        decode.root = tree.Root();
        return decode;
    }();
    return code;
}

} // namespace

std::optional<int> MessageReader::Symbol() {
    const DecodeTree& code = MessageCode();
    const size_t end = data_.size() * 8;
    int node = code.root;
    while (node != kNone && code.nodes[static_cast<size_t>(node)].symbol == kInternal) {
        if (bit_ >= end)
            return std::nullopt;
        const int bit = static_cast<unsigned char>(data_[bit_ >> 3]) >> (bit_ & 7) & 1;
        ++bit_;
        node = code.nodes[static_cast<size_t>(node)].child[bit];
    }
    // Every value has its leaf: the unsent leaf (or no node at all) is no byte of a message.
    if (node == kNone || code.nodes[static_cast<size_t>(node)].symbol == kUnsent)
        return std::nullopt;
    return code.nodes[static_cast<size_t>(node)].symbol;
}

std::optional<uint32_t> MessageReader::Bits(int count) {
    if (ended_ || count < 1 || count > 32)
        return std::nullopt;
    uint32_t value = 0;
    const int raw = count & 7;
    if (bit_ + static_cast<size_t>(raw) > data_.size() * 8) {
        ended_ = true;
        return std::nullopt;
    }
    for (int i = 0; i < raw; ++i, ++bit_)
        value |=
            static_cast<uint32_t>(static_cast<unsigned char>(data_[bit_ >> 3]) >> (bit_ & 7) & 1)
            << i;
    for (int shift = raw; shift < count; shift += 8) {
        const std::optional<int> byte = Symbol();
        if (!byte) {
            ended_ = true;
            return std::nullopt;
        }
        value |= static_cast<uint32_t>(*byte) << shift;
    }
    // The engine counts a value as read past the end when it ends on the message's last bit:
    // its writer always leaves a byte to spare.
    if (bit_ / 8 + 1 > data_.size()) {
        ended_ = true;
        return std::nullopt;
    }
    return value;
}

std::optional<int32_t> MessageReader::Long() {
    const std::optional<uint32_t> bits = Bits(32);
    if (!bits)
        return std::nullopt;
    return static_cast<int32_t>(*bits);
}

std::optional<int> MessageReader::Byte() {
    const std::optional<uint32_t> bits = Bits(8);
    if (!bits)
        return std::nullopt;
    return static_cast<int>(*bits);
}

bool MessageReader::SkipString() {
    // The engine's buffer holds 1023 characters and its zero; a longer string is cut after
    // the character that does not fit, and the rest is read as what follows.
    constexpr int kLongest = 1023;
    for (int length = 0;; ++length) {
        const std::optional<int> c = Byte();
        if (!c)
            return false;
        if (*c == 0 || length >= kLongest)
            return true;
    }
}

} // namespace vexo
