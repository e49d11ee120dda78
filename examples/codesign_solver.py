"""The co-design solver: score a history of validation iterations and follow
the recommended chain strength until the calibration margin reaches its target.

    python examples/codesign_solver.py
"""
import talvo_core


def validate(chain_strength):
    """A stand-in validator: stronger chains break less and raise the confidence."""
    breaks = max(0.0, 0.5 - 0.2 * chain_strength)
    confidence = min(1.0, 0.3 + 0.25 * chain_strength)
    return confidence, -10.0, -10.0 + 2.0 * chain_strength, breaks


def main():
    solver = talvo_core.StackelbergSolver(target_kappa=0.8, max_iterations=10, learning_rate=0.6)
    history = ([], [], [], [])
    strength = 1.0
    for step in range(10):
        for column, value in zip(history, validate(strength)):
            column.append(value)
        recommended, score = solver.solve(*history, strength)
        print(f"iteration {step}: chain strength {strength:.4f}, best kappa {score.kappa:.4f} "
              f"(iteration {score.iterations}), kappa std {score.kappa_std:.4f}")
        if recommended == strength:
            print(f"target kappa {solver.target_kappa} reached: keep chain strength {strength:.4f}")
            break
        strength = recommended
    print(score)


if __name__ == "__main__":
    main()
