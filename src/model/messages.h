// Every sentence the program writes to the log file. Each floor that writes one (the checks,
// the solvers, the run) reaches this catalogue downward.
#pragma once

#include <string_view>

namespace tessaro::message {

inline constexpr std::string_view bad_condition_code =
    "Check definition of branch nodes conditions";
inline constexpr std::string_view pressure_terminal_error =
    "terminal node pressure definition error\tin branch";
inline constexpr std::string_view flowrate_terminal_error =
    "terminal node flowrate definition error\tin branch";
inline constexpr std::string_view elevation_count =
    "No. of defined elevations not matching No. of Nodes";
inline constexpr std::string_view no_junctions =
    "No junctional nodes present, therefore not a network";
inline constexpr std::string_view elevation_order = "Out of sequence elevation Node numbers";
inline constexpr std::string_view iterations_exceeded = "Maximum iterations exceeded";
inline constexpr std::string_view largest_imbalance = "Maximum accumulative junctional flowrate =";
inline constexpr std::string_view success = "Calculation processed successfully";

// Faults of a network description that would make the program index outside its tables or
// never end.
inline constexpr std::string_view branch_out_of_sequence =
    "Branch number not matching its position\tin branch";
inline constexpr std::string_view node_number_error = "Node number below 1\tin branch";
inline constexpr std::string_view unconnected_node = "Node not connected to any branch:";

// Values the global solver cannot take, and networks it cannot balance.
inline constexpr std::string_view roughness_negative = "Roughness below zero";
inline constexpr std::string_view viscosity_not_positive = "Viscosity not above zero";
inline constexpr std::string_view density_not_positive = "Density not above zero";
inline constexpr std::string_view gravity_not_positive =
    "Gravitational acceleration not above zero";
inline constexpr std::string_view diameter_not_positive = "Diameter not above zero\tin branch";
inline constexpr std::string_view length_negative = "Negative length\tin branch";
inline constexpr std::string_view zero_length_fixed_heads =
    "Zero-length branches join two different fixed heads at node";
inline constexpr std::string_view floating_part_node =
    "No fixed head and unbalanced given flowrates in the part of node";
inline constexpr std::string_view floating_part_inflow = "Net inflow of that part =";
inline constexpr std::string_view factorisation_failed =
    "Factorisation of the head equations failed";

// Warnings of the global solver on standard error, each followed by the branch.
inline constexpr std::string_view warning_held_at_jump =
    "tessaro: warning: held at Re = 2000 between the laminar and turbulent head losses: branch ";
inline constexpr std::string_view warning_undetermined_loop =
    "tessaro: warning: closes a loop of zero-length branches, its flow taken as 0: branch ";
// After the first few branches of one warning, how many more there are.
inline constexpr std::string_view warning_more_held =
    " more branches held at Re = 2000 (regime transition in the tables of --csv)";
inline constexpr std::string_view warning_more_undetermined =
    " more branches closing loops of zero-length branches";

}  // namespace tessaro::message
