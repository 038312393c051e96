// The sample area of the plotbase tests: every field of every record set to
// a value of its own, texts at their longest, and names in mixed case.
#include "plotbase_test_support.h"

namespace plotbase_test {

json sample_area() {
  return json::parse(R"json(
{
  "name": "Sample",
  "notation": 1,
  "precision": 3,
  "markers": [
    {
      "name": "M100",
      "modified": 1151366400,
      "created": 1151280000,
      "prev_modified": 1151323200,
      "user_last_mod": "alice",
      "user_created": "bob the very long user name of 43 chars xxx",
      "user_prev_mod": "carol",
      "byte_size": [1000, 24],
      "header": {
        "name": "M100 header name",
        "description": "ABCDEFGHIJKLMNOPQRST",
        "order_name": "ORDER-7",
        "order_number": "PO-123",
        "lay_limits": "LL-1",
        "annotation": "ANN",
        "block_buffer": "BB",
        "matching": "PLAID",
        "notch": "V",
        "width": 60.5, "length": 500.25, "util": 81.5, "target_util": 80.0, "total_perimeter": 1234.5,
        "stripe_o": 1.1, "stripe_o2": 1.2, "stripe_o3": 1.3, "stripe_rpt": 1.4,
        "plaid_o": 2.1, "plaid_o2": 2.2, "plaid_o3": 2.3, "plaid_rpt": 2.4,
        "shrink_stretch_x": 0.99, "shrink_stretch_y": 1.01,
        "added": 3, "total_corners": 40, "total_notches": 50, "five_star": 4, "sizes": 5, "added_sizes": 2
      },
      "analysis": {
        "straight_perimeter": 11.5, "curved_perimeter": 12.5, "total_internal": 13.5,
        "straight_internal": 14.5, "curved_internal": 15.5,
        "placed_area": 10.0, "placed_perimeter": 10.0, "area_term": 5.0, "net_area": 2500.0,
        "placed_pieces": 7, "unplaced_pieces": 2, "placed_notches": 33, "placed_corners": -4,
        "notch_counts": [5, 0, 0, 0, 0, 0, 0, 0, 0, 2],
        "internal_counts": [0, 0, 0, 4],
        "point_attribute_counts": [3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0,
                                   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -32768]
      },
      "pieces": [
        {"name": "FRONT", "category": "SHELL", "area": 10.0, "perimeter": 20.25, "size": "M"},
        {"name": "BACK-PIECE-OF-20-CHR", "category": "CATEGORY-OF-20-CHARS", "area": 1e-3, "perimeter": -1.5,
         "size": "123456789"},
        {"name": "SLEEVE", "category": "", "area": 0, "perimeter": 0, "size": ""}
      ],
      "overrides": [
        {"piece": "FRONT", "right": 255, "override": "ROT180-XYZ", "size": "SIZE-6", "model": "MODEL-NAME-OF-27-CHARACTERS"},
        {"piece": "BACK", "right": 0, "override": "FLIP", "size": "S", "model": "Shirt"}
      ],
      "splices": [
        {"start": 120.0, "length": 30.0},
        {"start": 300.125, "length": 2.5}
      ],
      "models": [
        {"name": "Shirt", "alteration": "ALT", "dynamic": "DYN", "size_code": "REG", "fabric": "DENIM",
         "add_piece_bundle": 1, "options": ["LONG", "POCKET7"],
         "sizes": [
           {"size": "SIZE-M7", "quantity": 12, "cutdown": "CD-123", "half_piece": "HP", "base_size": "BASE-SZ",
            "direction": 2, "placed": 10},
           {"size": "L", "quantity": 3, "cutdown": "", "half_piece": "", "base_size": "M", "direction": -1, "placed": 0}
         ]},
        {"name": "plain", "sizes": [{"size": "XS", "quantity": 1}]}
      ]
    },
    {"name": "m050", "modified": 100},
    {"name": "Alpha", "modified": 200},
    {"name": "beta", "modified": 300, "created": -1},
    {"name": "_under", "modified": 400},
    {"name": "M1000", "modified": 500},
    {"name": "zeta", "modified": -5}
  ],
  "models": [
    {
      "name": "Shirt",
      "modified": 1000,
      "created": 900,
      "prev_modified": 950,
      "user_last_mod": "u1", "user_created": "u2", "user_prev_mod": "u3",
      "comment1": "COMMENT-ONE-OF-FORTY-CHARACTERS-XXXXXXXX",
      "comment2": "COMMENT-TWO-OF-FORTY-ONE-CHARACTERS-XXXXX",
      "pieces": [
        {"name": "Shirt-FRONT", "fabric": "FABRIC-OF-TWENTY-NINE-CHARS-X", "type": -1, "as_in": 1,
         "mirror_x": 2, "mirror_y": 3, "mirror_xy": 4, "half": 5, "dy_sp": 6, "add_piece": 127},
        {"name": "Shirt-BACK", "fabric": "SHELL", "type": -128}
      ],
      "option_groups": [
        {"option": "LONG", "pieces": [{"name": "Shirt-SLEEVE-L", "fabric": "F1"}]},
        {"option": "OPTION7", "pieces": [{"name": "Shirt-POCKET", "fabric": "F2"}, {"name": "Missing-PIECE"}]}
      ]
    },
    {"name": "plain", "modified": 2000}
  ],
  "pieces": [
    {"name": "Shirt-FRONT", "category": "SHELL", "description": "Front of the shirt"},
    {"name": "shirt-back", "category": "CATEGORY-OF-20-CHARS",
     "description": "DESCRIPTION-OF-113-CHARACTERS-XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX"},
    {"name": "Shirt-SLEEVE-L", "category": "SHELL"},
    {"name": "Shirt-POCKET", "category": "POCKETING", "description": "Pocket"}
  ],
  "orders": [
    {
      "name": "O1",
      "modified": 3000, "created": 2900, "prev_modified": -1,
      "user_last_mod": "ord-user",
      "models": [
        {"name": "Shirt", "alteration": "A", "dynamic": "D", "size_code": "S", "fabric": "F", "add_piece_bundle": 7,
         "options": ["O1"], "sizes": [{"size": "S1", "quantity": 1}, {"size": "S2", "quantity": 2, "direction": 3}]},
        {"name": "plain"}
      ]
    },
    {"name": "o0", "modified": 10}
  ]
}
)json");
}

}  // namespace plotbase_test
